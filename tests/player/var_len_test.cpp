#include <gtest/gtest.h>

#include "bit_pack.h"
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

// A value of up to 64 bits as a word is its bits below the length, fill included, and a word
// set as a value reads back bit for bit.
TEST(TVarLen, WordIsTheBitsBelowTheLength) {
    struct {
        int64_t Bits, Held;
        uint8_t Fill;
    } Rows[] = {{0, 0, 0},  {1, 1, 0},  {12, 1, 0xFF}, {12, 2, 0},   {56, 3, 0xFF},
                {63, 8, 0}, {64, 8, 0}, {64, 0, 0xFF}, {64, 5, 0xFF}};
    for (auto R : Rows) {
        TVarLen V;
        uint8_t* B = V.Assign(R.Bits, R.Held, R.Fill);
        for (int64_t I = 0; I < V.StoredBytes(); ++I)
            B[I] = static_cast<uint8_t>(0x5B + 37 * I);
        uint64_t Want = 0;
        for (int64_t I = 0; I < R.Bits; ++I)
            Want |= uint64_t{V.GetBit(I)} << I;
        EXPECT_EQ(V.Word(), Want) << R.Bits << " " << R.Held;
        TVarLen W;
        W.SetWord(R.Bits, Want | (R.Bits < 64 ? ~uint64_t{0} << R.Bits : 0));
        EXPECT_EQ(W.BitLength(), R.Bits);
        for (int64_t I = 0; I < R.Bits; ++I)
            EXPECT_EQ(W.GetBit(I), V.GetBit(I)) << R.Bits << " bit " << I;
    }
}

// The compare of read-back with an expected value under a mask gives what a bit-by-bit compare
// gives, on each of its ways: short words, eight bytes at a time, byte by byte, values held in
// part (the rest reading as their fill), no mask, and at any bit offset.
TEST(BitPack, DiffersUnderMaskIsTheBitByBitCompare) {
    uint32_t Seed = 7;
    auto Next = [&] { return (Seed = Seed * 1103515245u + 12345u) >> 16; };
    for (int64_t Count : {1, 7, 8, 13, 57, 64, 65, 100, 130})
        for (int64_t Offset : {0, 3, 8})
            for (int Form = 0; Form < 4; ++Form) {
                const int64_t Bits = Offset + Count;
                TVarLen Expected(Bits), Mask(Bits);
                // Form 0: both held; 1: no mask; 2: the mask held in part and read as ones
                // beyond; 3: the expected value held in part.
                const int64_t Held = TVarLen::BytesFor(Bits);
                uint8_t* E = Expected.Assign(Bits, Form == 3 ? Held / 2 : Held);
                for (int64_t I = 0; I < Expected.StoredBytes(); ++I)
                    E[I] = static_cast<uint8_t>(Next());
                uint8_t* M = Mask.Assign(Bits, Form == 2 ? Held / 2 : Held, 0xFF);
                for (int64_t I = 0; I < Mask.StoredBytes(); ++I)
                    M[I] = static_cast<uint8_t>(Next() | Next());
                const TVarLen* UsedMask = Form == 1 ? nullptr : &Mask;
                for (int Flip = -1; Flip < Count; Flip += Count / 3 + 1) {
                    // The read-back: the expected bits, with one bit turned over (none at -1).
                    std::vector<uint8_t> Got(static_cast<size_t>(TVarLen::BytesFor(Bits)) + 1);
                    bool Want = false;
                    for (int64_t I = 0; I < Count; ++I) {
                        bool B = Expected.GetBit(Offset + I);
                        if (I == Flip) {
                            B = !B;
                            Want = !UsedMask || UsedMask->GetBit(Offset + I);
                        }
                        if (B)
                            Got[static_cast<size_t>((Offset + I) >> 3)] |=
                                static_cast<uint8_t>(1u << ((Offset + I) & 7));
                    }
                    EXPECT_EQ(DiffersUnderMask(Got.data(), Bits, Offset, Expected, UsedMask, Offset,
                                               Count),
                              Want)
                        << Count << " bits at " << Offset << ", form " << Form << ", flip " << Flip;
                }
            }
}
