#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

// The first N (0 to 8) bytes at P as a little-endian number, and the reverse. Overlapping loads
// and stores instead of a loop over the bytes, whose count varies from value to value.
inline uint64_t LoadBytesLE(const uint8_t* P, int64_t N) {
    uint64_t V = 0;
    if constexpr (std::endian::native == std::endian::little) {
        if (N >= 4) {
            uint32_t A, B;
            std::memcpy(&A, P, 4);
            std::memcpy(&B, P + N - 4, 4);
            return (uint64_t{B} << (8 * (N - 4))) | A;
        }
        if (N > 0)
            V = uint64_t{P[0]} | uint64_t{P[N / 2]} << (8 * (N / 2)) |
                uint64_t{P[N - 1]} << (8 * (N - 1));
        return V;
    }
    for (int64_t I = 0; I < N; ++I)
        V |= uint64_t{P[I]} << (8 * I);
    return V;
}
inline void StoreBytesLE(uint8_t* P, uint64_t V, int64_t N) {
    if constexpr (std::endian::native == std::endian::little) {
        if (N >= 4) {
            const auto A = static_cast<uint32_t>(V);
            const auto B = static_cast<uint32_t>(V >> (8 * (N - 4)));
            std::memcpy(P + N - 4, &B, 4);
            std::memcpy(P, &A, 4);
        } else if (N > 0) {
            P[N - 1] = static_cast<uint8_t>(V >> (8 * (N - 1)));
            P[N / 2] = static_cast<uint8_t>(V >> (8 * (N / 2)));
            P[0] = static_cast<uint8_t>(V);
        }
        return;
    }
    for (int64_t I = 0; I < N; ++I)
        P[I] = static_cast<uint8_t>(V >> (8 * I));
}

// One scan value of any length: TDI pattern, expected TDO or mask. Bit i lives in byte i / 8 at
// mask 1 << (i % 8); bit 0 is the first bit on the wire. Spare high bits of the last byte are kept
// as written; users only look at bits below BitLength.
//
// Only the bytes a file spelled out are held. The bytes beyond them, up to the length, read as a
// fill value (0x00 or 0xFF): SVF lets a short TDI zero-extend to a longer scan and a MASK become
// all ones, so a statement of a few bytes may describe a scan of 2^28 bits, and none of that is
// kept in memory. Lengths are 64-bit and bounded, so a hostile length fails with an exception
// instead of wrapping around.
class TVarLen {
public:
    TVarLen() = default;
    explicit TVarLen(int64_t Bits) { SetBitLength(Bits); }
    TVarLen(const TVarLen&) = default;
    TVarLen& operator=(const TVarLen&) = default;
    TVarLen(TVarLen&&) noexcept = default;
    TVarLen& operator=(TVarLen&&) noexcept = default;

    // Exchanges two values without moving their bytes (std::swap goes through a temporary).
    void swap(TVarLen& Other) noexcept {
        FBytes.swap(Other.FBytes);
        std::swap(FBitLength, Other.FBitLength);
        std::swap(FFill, Other.FFill);
    }

    // The longest value: far beyond any scan a player accepts, far below what would wrap.
    static constexpr int64_t MaxBits = int64_t{1} << 40;

    int64_t BitLength() const { return FBitLength; }
    // Bits / 8 bytes (+1 for a partial byte); bytes held beyond the new length are dropped, kept
    // ones keep their value, new ones read as 0. Throws std::length_error above MaxBits.
    void SetBitLength(int64_t Bits);
    // Bytes of the whole length, held or not.
    int64_t ByteCount() const { return BytesFor(FBitLength); }
    // Bytes really held (Data() points to them); at most ByteCount().
    int64_t StoredBytes() const { return static_cast<int64_t>(FBytes.size()); }
    // Bytes of storage allocated, held or not (a reused value keeps what it had).
    size_t CapacityBytes() const { return FBytes.capacity(); }
    // What the bytes from StoredBytes() to ByteCount() read as.
    uint8_t Fill() const { return FFill; }
    // Length Bits, the first min(Stored, ByteCount()) bytes held and zero, the rest reading as
    // Fill. Returns the held bytes for the caller to write.
    uint8_t* Assign(int64_t Bits, int64_t Stored, uint8_t Fill = 0) {
        Reshape(Bits, Stored);
        FFill = Fill;
        std::fill(FBytes.begin(), FBytes.end(), uint8_t{0});
        return FBytes.data();
    }

    // The same for a caller that writes every held byte: what they held before is left as it
    // is instead of cleared first.
    uint8_t* Reshape(int64_t Bits, int64_t Stored) {
        if (Bits > MaxBits)
            ThrowTooLong(Bits);
        FBitLength = Bits;
        FFill = 0;
        const int64_t Bytes = ByteCount();
        FBytes.resize(static_cast<size_t>(Stored < 0 ? 0 : Stored < Bytes ? Stored : Bytes));
        return FBytes.data();
    }

    // A value of at most 64 bits as one word, bit 0 first; bits beyond the length are 0.
    uint64_t Word() const {
        const int64_t Bytes = ByteCount();
        const int64_t Held = StoredBytes();
        uint64_t W = LoadBytesLE(FBytes.data(), Held);
        if (FFill != 0 && Held < Bytes)
            W |= ~uint64_t{0} << (8 * Held);
        return FBitLength >= 64 ? W : W & ((uint64_t{1} << FBitLength) - 1);
    }
    // A value of Bits (at most 64) from a word, every byte held.
    void SetWord(int64_t Bits, uint64_t W) {
        const int64_t Bytes = BytesFor(Bits);
        StoreBytesLE(Reshape(Bits, Bytes), W, Bytes);
    }

    // 0 outside the length, the fill value beyond the held bytes.
    uint8_t GetByte(int64_t Index) const {
        if (Index >= 0 && Index < StoredBytes())
            return FBytes[static_cast<size_t>(Index)];
        return (Index >= 0 && Index < ByteCount()) ? FFill : 0;
    }
    // Out of range: ignored. A byte beyond the held ones makes every byte up to it held.
    void SetByte(int64_t Index, uint8_t Value);
    // Every byte of the length reads as 0xFF (or 0); nothing is held.
    void SetAllOnes() { SetAll(0xFF); }
    void SetAllZeros() { SetAll(0x00); }

    // Bit access with the same out-of-range rules as the byte access.
    bool GetBit(int64_t Bit) const { return Bit >= 0 && ((GetByte(Bit >> 3) >> (Bit & 7)) & 1); }
    void SetBit(int64_t Bit, bool Value);
    // The eight bits from Bit on (bit Bit in bit 0), at any alignment; 0 beyond the length.
    uint8_t GetBits8(int64_t Bit) const {
        const int64_t B = Bit >> 3;
        const unsigned S = static_cast<unsigned>(Bit & 7);
        if (S == 0)
            return GetByte(B);
        return static_cast<uint8_t>((GetByte(B) | GetByte(B + 1) << 8) >> S);
    }

    // The held bytes, for the hot paths that convert whole values.
    const uint8_t* Data() const { return FBytes.data(); }
    uint8_t* Data() { return FBytes.data(); }

    static int64_t BytesFor(int64_t Bits) { return Bits > 0 ? (Bits + 7) / 8 : 0; }

private:
    void SetAll(uint8_t Fill);
    [[noreturn]] static void ThrowTooLong(int64_t Bits);

    std::vector<uint8_t> FBytes;
    int64_t FBitLength = 0;
    uint8_t FFill = 0;
};
