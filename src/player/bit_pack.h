#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "var_len.h"

// Eight read-back bytes (zero or non-zero) packed into one byte, byte 0 in bit 0: the compare of
// a long scan runs over megabytes of them, one byte per bit as the events hand them out.
static_assert(std::endian::native == std::endian::little,
              "the eight-byte packing below assumes little-endian loads");
inline unsigned PackEight(const uint8_t* P) {
    uint64_t V;
    std::memcpy(&V, P, 8);
    // High bit of each byte set when the byte is non-zero; no carry crosses a byte.
    const uint64_t NonZero =
        (((V & 0x7F7F7F7F7F7F7F7Full) + 0x7F7F7F7F7F7F7F7Full) | V) & 0x8080808080808080ull;
    // Byte j's bit lands on bit 56 + j; the partial products never overlap, so nothing carries.
    return static_cast<unsigned>(((NonZero >> 7) * 0x0102040810204080ull) >> 56);
}

// Byte value to its eight bits, one byte each, bit 0 first: a scan value becomes the one-bit-per-
// byte array of the events with one copy per byte instead of eight shifts and masks.
inline constexpr std::array<std::array<uint8_t, 8>, 256> ByteBits = [] {
    std::array<std::array<uint8_t, 8>, 256> T{};
    for (unsigned V = 0; V < 256; ++V)
        for (unsigned B = 0; B < 8; ++B)
            T[V][B] = static_cast<uint8_t>((V >> B) & 1);
    return T;
}();

// Dst[0..Count) = bits 0..Count-1 of Value, one byte per bit; bits beyond its storage are 0.
inline void ExpandBits(const TVarLen& Value, uint8_t* Dst, int64_t Count) {
    if (Count <= 0)
        return;
    const uint8_t* Src = Value.Data();
    const int64_t Stored = std::min<int64_t>(Count, Value.ByteCount() * 8);
    const int64_t Whole = Stored / 8;
    for (int64_t B = 0; B < Whole; ++B)
        std::memcpy(Dst + B * 8, ByteBits[Src[B]].data(), 8);
    for (int64_t I = Whole * 8; I < Stored; ++I)
        Dst[I] = static_cast<uint8_t>((Src[I >> 3] >> (I & 7)) & 1);
    if (Stored < Count)
        std::memset(Dst + Stored, 0, static_cast<size_t>(Count - Stored));
}
