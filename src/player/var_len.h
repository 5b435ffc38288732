#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One scan value of any length: TDI pattern, expected TDO or mask. Bit i lives in byte i / 8 at
// mask 1 << (i % 8); bit 0 is the first bit on the wire. Spare high bits of the last byte are kept
// as written; users only look at bits below BitLength. Lengths are 64-bit so a hostile length from
// a file fails with an allocation error instead of wrapping around.
class TVarLen {
public:
    TVarLen() = default;
    explicit TVarLen(int64_t Bits) { SetBitLength(Bits); }
    TVarLen(const TVarLen&) = default;
    TVarLen& operator=(const TVarLen&) = default;
    TVarLen(TVarLen&&) noexcept = default;
    TVarLen& operator=(TVarLen&&) noexcept = default;

    int64_t BitLength() const { return FBitLength; }
    // Resizes to Bits / 8 bytes (+1 for a partial byte); kept bytes keep their value, new ones are
    // 0.
    void SetBitLength(int64_t Bits);
    int64_t ByteCount() const { return static_cast<int64_t>(FBytes.size()); }

    // 0 outside the storage, so a value shorter than a scan reads as zeros beyond its end.
    uint8_t GetByte(int64_t Index) const {
        return (Index >= 0 && Index < ByteCount()) ? FBytes[static_cast<size_t>(Index)] : 0;
    }
    // Out of range: ignored.
    void SetByte(int64_t Index, uint8_t Value) {
        if (Index >= 0 && Index < ByteCount())
            FBytes[static_cast<size_t>(Index)] = Value;
    }
    void SetAllOnes();
    void SetAllZeros();

    // Bit access with the same out-of-range rules as the byte access.
    bool GetBit(int64_t Bit) const { return Bit >= 0 && ((GetByte(Bit >> 3) >> (Bit & 7)) & 1); }
    void SetBit(int64_t Bit, bool Value);

    // Direct access for the hot paths that convert whole values.
    const uint8_t* Data() const { return FBytes.data(); }
    uint8_t* Data() { return FBytes.data(); }

private:
    std::vector<uint8_t> FBytes;
    int64_t FBitLength = 0;
};
