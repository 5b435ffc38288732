#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The KORVEX command language: one-byte commands, some answered by one reply byte.
namespace korvex {

constexpr uint32_t QueueSize = 3968;         // bytes the host collects before one USB write
constexpr int64_t MaxPendingReplies = 15872; // replies the device may hold unread

constexpr uint8_t CmdReadBack = 0x40; // group shift: bit 6 asks for one reply byte
constexpr uint8_t CmdPause = 0x80;    // no clock, 512 periods of 3 MHz
constexpr uint8_t CmdEnd = 0xA3;      // first byte of the closing sequence
constexpr uint8_t CmdStart = 0xA7;    // first byte of every connection
constexpr uint8_t CmdSpeed3M = 0xA8;  // also the base speed of divider mode
constexpr uint8_t CmdSpeed1M5 = 0xA9;
constexpr uint8_t CmdSpeed750k = 0xAA;
constexpr uint8_t CmdSpeedSlow = 0xAB; // 93,750 Hz, only inside a timed wait
constexpr uint8_t CmdSetup1 = 0xB0;
constexpr uint8_t CmdSetup2 = 0xB8;
constexpr uint8_t CmdCloseLow = 0xC8; // last closing byte: TCK low, bit 1 clear
constexpr uint8_t CmdPin = 0xE8;      // | TMS << 2 | pin state

// Bit-level commands (bit 0 TDI, bit 2 TCK; bit 4 read-back, reply in bit 3).
constexpr uint8_t L(uint8_t d) {
    return static_cast<uint8_t>(0xCA | d);
}
constexpr uint8_t H(uint8_t d) {
    return static_cast<uint8_t>(0xCE | d);
}
constexpr uint8_t R(uint8_t d) {
    return static_cast<uint8_t>(0xDE | d);
}
constexpr uint8_t BitReplyMask = 0x08;

// Reply bytes each command produces, by its high nibble.
constexpr uint8_t ReplyTable[16] = {0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 1, 0, 1};
// The same table as a bit mask (bit n set: high nibble n answers), for loops the compiler can
// vectorise.
constexpr uint32_t ReplyMask = 0xA2F0;
constexpr int RepliesOf(uint8_t Command) {
    return (ReplyMask >> (Command >> 4)) & 1;
}
static_assert(
    [] {
        for (unsigned N = 0; N < 16; ++N)
            if (((ReplyMask >> N) & 1) != ReplyTable[N])
                return false;
        return true;
    }(),
    "the reply mask must match the reply table");

// Reply bytes of Count command bytes. The commands that answer are 0x40 to 0x7F and the rows 0x9_,
// 0xD_ and 0xF_; sixteen bytes are classified at a time where the processor allows, since every
// USB write counts its replies.
inline int64_t CountReplies(const uint8_t* Bytes, size_t Count) {
    int64_t N = 0;
    size_t I = 0;
#if defined(__SSE2__)
    const __m128i C0 = _mm_set1_epi8(static_cast<char>(0xC0));
    const __m128i D0 = _mm_set1_epi8(static_cast<char>(0xD0));
    const __m128i F0 = _mm_set1_epi8(static_cast<char>(0xF0));
    for (; I + 16 <= Count; I += 16) {
        const __m128i V = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Bytes + I));
        const __m128i Group = _mm_cmpeq_epi8(_mm_and_si128(V, C0), _mm_set1_epi8(0x40));
        const __m128i RowDF = _mm_cmpeq_epi8(_mm_and_si128(V, D0), D0);
        const __m128i Row9 = _mm_cmpeq_epi8(_mm_and_si128(V, F0), _mm_set1_epi8(-0x70));
        const unsigned M = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(Group, _mm_or_si128(RowDF, Row9))));
        // The sixteen flags added up without a population count instruction, which the
        // baseline processor lacks (the library routine would cost more than the test).
        unsigned C = M - ((M >> 1) & 0x5555u);
        C = (C & 0x3333u) + ((C >> 2) & 0x3333u);
        C = (C + (C >> 4)) & 0x0F0Fu;
        N += static_cast<int64_t>((C + (C >> 8)) & 0x1Fu);
    }
#endif
    for (; I < Count; ++I)
        N += RepliesOf(Bytes[I]);
    return N;
}

// A group shift of Clocks (1 to 4) clocks with the TDI levels in the low bits.
constexpr uint8_t Group(unsigned Clocks, unsigned TdiBits, bool ReadBack) {
    return static_cast<uint8_t>(((Clocks - 1) << 4) | (TdiBits & 0x0F) |
                                (ReadBack ? CmdReadBack : 0));
}

} // namespace korvex
