#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

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
