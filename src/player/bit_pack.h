#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "var_len.h"

// Packed bit arrays, as the events carry them: bit i in byte i / 8 at mask 1 << (i % 8), bit 0
// first on the wire; the same layout as a TVarLen's bytes, so a scan is composed by copying bytes.

// The eight bits of a packed array of Bits bits from Bit on (bit Bit in bit 0), at any alignment;
// bytes at and beyond the array's end are not read.
inline unsigned PackedBits8(const uint8_t* P, int64_t Bits, int64_t Bit) {
    const int64_t B = Bit >> 3;
    const unsigned S = static_cast<unsigned>(Bit & 7);
    unsigned V = P[B];
    if (S != 0 && B + 1 < TVarLen::BytesFor(Bits))
        V |= static_cast<unsigned>(P[B + 1]) << 8;
    return (V >> S) & 0xFF;
}

// Dst bits DstBit .. DstBit+Count-1 |= Src bits SrcBit .. SrcBit+Count-1 (bits beyond Src's held
// bytes read as its fill). Dst must be 0 there: byte-aligned copies are plain copies.
inline void OrBits(uint8_t* Dst, int64_t DstBit, const TVarLen& Src, int64_t SrcBit,
                   int64_t Count) {
    if (Count <= 0)
        return;
    if (((DstBit | SrcBit) & 7) == 0) {
        uint8_t* D = Dst + DstBit / 8;
        const int64_t S0 = SrcBit / 8;
        const int64_t Whole = Count / 8;
        const int64_t Held = std::clamp<int64_t>(Src.StoredBytes() - S0, 0, Whole);
        const int64_t Filled = std::clamp<int64_t>(Src.ByteCount() - S0, Held, Whole) - Held;
        if (Held > 0)
            std::memcpy(D, Src.Data() + S0, static_cast<size_t>(Held));
        if (Filled > 0 && Src.Fill() != 0)
            std::memset(D + Held, Src.Fill(), static_cast<size_t>(Filled));
        if (Count & 7)
            D[Whole] |= static_cast<uint8_t>(Src.GetByte(S0 + Whole) & ((1u << (Count & 7)) - 1));
        return;
    }
    for (int64_t K = 0; K < Count; K += 8) {
        const int64_t N = std::min<int64_t>(8, Count - K);
        const unsigned V = (Src.GetBits8(SrcBit + K) & ((1u << N) - 1)) << ((DstBit + K) & 7);
        const int64_t B = (DstBit + K) >> 3;
        Dst[B] |= static_cast<uint8_t>(V);
        if (V >> 8)
            Dst[B + 1] |= static_cast<uint8_t>(V >> 8);
    }
}

// True when some bit k < Count differs between the packed read-back Got (bit GotBit + k, of an
// array of GotBits bits) and Expected (bit ValueBit + k) where Mask has that bit set (every bit
// when Mask is null). Mask bytes of zero are skipped.
inline bool DiffersUnderMask(const uint8_t* Got, int64_t GotBits, int64_t GotBit,
                             const TVarLen& Expected, const TVarLen* Mask, int64_t ValueBit,
                             int64_t Count) {
    const bool Aligned = ((GotBit | ValueBit) & 7) == 0;
    int64_t K = 0;
    if (Aligned && Count > 0 && Count <= 64) {
        // A short compare whose values hold their bytes: one word each.
        const int64_t V0 = ValueBit >> 3;
        const int64_t N = TVarLen::BytesFor(Count);
        if (Expected.StoredBytes() >= V0 + N && (!Mask || Mask->StoredBytes() >= V0 + N)) {
            const uint64_t Gw = LoadBytesLE(Got + (GotBit >> 3), N);
            const uint64_t Ew = LoadBytesLE(Expected.Data() + V0, N);
            uint64_t Mw = Mask ? LoadBytesLE(Mask->Data() + V0, N) : ~uint64_t{0};
            if (Count < 64)
                Mw &= (uint64_t{1} << Count) - 1;
            return ((Gw ^ Ew) & Mw) != 0;
        }
    }
    if (Aligned) {
        // Where the values hold their bytes, eight bytes are compared at a time.
        const int64_t V0 = ValueBit >> 3;
        int64_t Held = std::clamp<int64_t>(Expected.StoredBytes() - V0, 0, Count / 8);
        if (Mask)
            Held = std::min(Held, std::max<int64_t>(Mask->StoredBytes() - V0, 0));
        const uint8_t* G = Got + (GotBit >> 3);
        const uint8_t* E = Expected.Data() + V0;
        const uint8_t* M = Mask ? Mask->Data() + V0 : nullptr;
        for (int64_t B = 0; B + 8 <= Held; B += 8, K += 64) {
            uint64_t Gw, Ew, Mw = ~uint64_t{0};
            std::memcpy(&Gw, G + B, 8);
            std::memcpy(&Ew, E + B, 8);
            if (M)
                std::memcpy(&Mw, M + B, 8);
            if ((Gw ^ Ew) & Mw)
                return true;
        }
    }
    for (; K < Count; K += 8) {
        const int64_t N = std::min<int64_t>(8, Count - K);
        unsigned M = (1u << N) - 1;
        if (Mask)
            M &= Aligned ? Mask->GetByte((ValueBit + K) >> 3) : Mask->GetBits8(ValueBit + K);
        if (M == 0)
            continue;
        const unsigned E =
            Aligned ? Expected.GetByte((ValueBit + K) >> 3) : Expected.GetBits8(ValueBit + K);
        const unsigned G = Aligned ? Got[(GotBit + K) >> 3] : PackedBits8(Got, GotBits, GotBit + K);
        if ((G ^ E) & M)
            return true;
    }
    return false;
}

// One byte per bit (0 or 1) from a packed array of Count bits, and back (any non-zero byte is a 1):
// for the places that look at single bits rather than shift them, such as test recorders.
inline std::vector<uint8_t> UnpackBits(const uint8_t* P, int64_t Count) {
    std::vector<uint8_t> Out(static_cast<size_t>(std::max<int64_t>(Count, 0)));
    for (int64_t I = 0; I < Count; ++I)
        Out[static_cast<size_t>(I)] = (P[I >> 3] >> (I & 7)) & 1;
    return Out;
}

inline std::vector<uint8_t> PackBits(const std::vector<uint8_t>& Bits) {
    std::vector<uint8_t> Out(
        static_cast<size_t>(TVarLen::BytesFor(static_cast<int64_t>(Bits.size()))));
    for (size_t I = 0; I < Bits.size(); ++I)
        if (Bits[I])
            Out[I >> 3] |= static_cast<uint8_t>(1u << (I & 7));
    return Out;
}
