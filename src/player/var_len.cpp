#include "var_len.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

void CheckLength(int64_t Bits) {
    if (Bits > TVarLen::MaxBits)
        throw std::length_error("A value of " + std::to_string(Bits) + " bits is too long");
}

} // namespace

void TVarLen::SetBitLength(int64_t Bits) {
    CheckLength(Bits);
    const int64_t Old = ByteCount();
    const int64_t New = BytesFor(Bits);
    if (New > Old && FFill != 0) {
        // The bytes up to the old length keep their fill; the new ones must read as 0.
        FBytes.resize(static_cast<size_t>(Old), FFill);
        FFill = 0;
    }
    if (StoredBytes() > New)
        FBytes.resize(static_cast<size_t>(New));
    FBitLength = Bits;
}

void TVarLen::ThrowTooLong(int64_t Bits) {
    throw std::length_error("A value of " + std::to_string(Bits) + " bits is too long");
}

void TVarLen::SetAll(uint8_t Fill) {
    FBytes.clear();
    FBytes.shrink_to_fit();
    FFill = Fill;
}

void TVarLen::SetByte(int64_t Index, uint8_t Value) {
    if (Index < 0 || Index >= ByteCount())
        return;
    if (Index >= StoredBytes())
        FBytes.resize(static_cast<size_t>(Index + 1), FFill);
    FBytes[static_cast<size_t>(Index)] = Value;
}

void TVarLen::SetBit(int64_t Bit, bool Value) {
    if (Bit < 0 || (Bit >> 3) >= ByteCount())
        return;
    const auto M = static_cast<uint8_t>(1u << (Bit & 7));
    const uint8_t B = GetByte(Bit >> 3);
    SetByte(Bit >> 3, Value ? static_cast<uint8_t>(B | M) : static_cast<uint8_t>(B & ~M));
}
