#include <gtest/gtest.h>

#include "var_len.h"

TEST(TVarLen, ByteCountFollowsBitLength) {
    struct {
        int64_t Bits, Bytes;
    } Rows[] = {{0, 0}, {1, 1}, {7, 1}, {8, 1}, {9, 2}, {16, 2}, {17, 3}, {-1, 0}, {-9, 0}};
    for (auto R : Rows) {
        TVarLen V(R.Bits);
        EXPECT_EQ(V.ByteCount(), R.Bytes) << R.Bits;
        EXPECT_EQ(V.BitLength(), R.Bits);
    }
}

TEST(TVarLen, ResizeKeepsBytesAndZeroesNewOnes) {
    TVarLen V(8);
    V.SetByte(0, 0xA5);
    V.SetBitLength(16);
    EXPECT_EQ(V.GetByte(0), 0xA5);
    EXPECT_EQ(V.GetByte(1), 0);
    V.SetByte(1, 0x3C);
    V.SetBitLength(8);
    EXPECT_EQ(V.ByteCount(), 1);
    V.SetBitLength(16); // the dropped byte does not come back
    EXPECT_EQ(V.GetByte(1), 0);
    EXPECT_EQ(V.GetByte(0), 0xA5);
}

TEST(TVarLen, OutOfRangeAccessIsHarmless) {
    TVarLen V(16);
    V.SetByte(-1, 1);
    V.SetByte(2, 1);
    EXPECT_EQ(V.GetByte(-1), 0);
    EXPECT_EQ(V.GetByte(2), 0);
    EXPECT_EQ(V.GetByte(0), 0);
    EXPECT_EQ(V.GetByte(1), 0);
    EXPECT_FALSE(V.GetBit(100));
    V.SetBit(100, true); // ignored
    EXPECT_EQ(V.ByteCount(), 2);
}

TEST(TVarLen, FillsAndBitsUseLsbFirstOrder) {
    TVarLen V(12);
    V.SetAllOnes();
    EXPECT_EQ(V.GetByte(1), 0xFF); // spare bits above the length are set too
    V.SetAllZeros();
    V.SetBit(0, true);
    V.SetBit(9, true);
    EXPECT_EQ(V.GetByte(0), 0x01);
    EXPECT_EQ(V.GetByte(1), 0x02);
    EXPECT_TRUE(V.GetBit(9));
    V.SetBit(9, false);
    EXPECT_EQ(V.GetByte(1), 0x00);
}

TEST(TVarLen, CopyIsDeep) {
    TVarLen Empty;
    TVarLen E2(Empty);
    EXPECT_EQ(E2.BitLength(), 0);
    EXPECT_EQ(E2.ByteCount(), 0);

    TVarLen A(10);
    A.SetByte(1, 0x03);
    TVarLen B(A);
    A.SetByte(1, 0);
    EXPECT_EQ(B.GetByte(1), 0x03);
    EXPECT_EQ(B.BitLength(), 10);
}

TEST(TVarLen, HostileLengthFailsWithAnException) {
    TVarLen V;
    EXPECT_THROW(V.SetBitLength(INT64_MAX), std::exception);
}
