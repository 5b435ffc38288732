#include "var_len.h"

#include <algorithm>

void TVarLen::SetBitLength(int64_t Bits) {
    // Truncating division, as for any signed length; a negative length gives no storage.
    int64_t Count = Bits / 8 + ((Bits % 8 > 0) ? 1 : 0);
    FBytes.resize(static_cast<size_t>(std::max<int64_t>(Count, 0)), 0);
    FBitLength = Bits;
}

void TVarLen::SetAllOnes() {
    std::fill(FBytes.begin(), FBytes.end(), uint8_t{0xFF});
}

void TVarLen::SetAllZeros() {
    std::fill(FBytes.begin(), FBytes.end(), uint8_t{0});
}

void TVarLen::SetBit(int64_t Bit, bool Value) {
    if (Bit < 0 || (Bit >> 3) >= ByteCount())
        return;
    uint8_t& B = FBytes[static_cast<size_t>(Bit >> 3)];
    const auto M = static_cast<uint8_t>(1u << (Bit & 7));
    B = Value ? static_cast<uint8_t>(B | M) : static_cast<uint8_t>(B & ~M);
}
