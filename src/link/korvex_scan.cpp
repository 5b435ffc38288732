#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "bit_pack.h"
#include "korvex_link.h"

// The scan handlers. OnShift and OnReadCaptured carry every bit of every scan, packed one bit per
// bit. In fast mode the middle of a scan goes out in group shifts of four bits: one 64-bit load of
// the TDI bits and one of the capture bits make fourteen group-shift bytes.

using namespace korvex;

static_assert(std::endian::native == std::endian::little,
              "the 64-bit loads below assume little-endian byte order");

namespace {

inline uint64_t Load64(const uint8_t* P) {
    uint64_t V;
    std::memcpy(&V, P, 8);
    return V;
}

inline unsigned BitAt(const uint8_t* P, int64_t I) {
    return (P[I >> 3] >> (I & 7)) & 1;
}

// Groups taken from one 64-bit load: 14 x 4 = 56 bits, which any bit offset 0..7 leaves in it.
constexpr int64_t GroupsPerLoad = 14;

// The four bits from Pos on, and whether any of the four capture bits is set.
inline unsigned GroupByte(const uint8_t* Tdi, const uint8_t* Capture, int64_t Count, int64_t Pos) {
    return 0x30 | (PackedBits8(Tdi, Count, Pos) & 0x0F) |
           ((PackedBits8(Capture, Count, Pos) & 0x0F) ? CmdReadBack : 0);
}

// Sixteen group-shift bytes at Q from the nibbles of two words: byte G shifts bits 4G to 4G+3
// of T, and asks for read-back when any of those bits of C is set. All sixteen are written; the
// caller keeps as many as it has groups (the queue has room for the rest).
inline void WriteGroups(uint8_t* Q, uint64_t T, uint64_t C) {
#if defined(__SSE2__) && defined(__x86_64__)
    // Nibbles 0, 2, 4 ... in the bytes of one register, 1, 3, 5 ... in another; interleaved,
    // byte G holds nibble G.
    const uint64_t Low = 0x0F0F0F0F0F0F0F0Full;
    const __m128i Tn = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(T & Low)),
                                         _mm_cvtsi64_si128(static_cast<long long>((T >> 4) & Low)));
    const __m128i Cn = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(C & Low)),
                                         _mm_cvtsi64_si128(static_cast<long long>((C >> 4) & Low)));
    const __m128i Read = _mm_andnot_si128(_mm_cmpeq_epi8(Cn, _mm_setzero_si128()),
                                          _mm_set1_epi8(static_cast<char>(CmdReadBack)));
    const __m128i Bytes = _mm_or_si128(_mm_or_si128(Tn, Read), _mm_set1_epi8(0x30));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(Q), Bytes);
#else
    for (int G = 0; G < 16; ++G, T >>= 4, C >>= 4)
        Q[G] = static_cast<uint8_t>(0x30 | (T & 0x0F) | ((C & 0x0F) ? CmdReadBack : 0));
#endif
}

// Groups of four capture bits in V (the low 4 * Groups bits) that have a bit set.
inline int64_t CapturingGroups(uint64_t V) {
    const uint64_t Any = (V | V >> 1 | V >> 2 | V >> 3) & 0x1111111111111111ull;
    // At most fourteen groups, one bit each in its own nibble: a multiplication adds them all up
    // in the top nibble, where a processor without a population count instruction would call a
    // library routine.
    return static_cast<int64_t>((Any * 0x1111111111111111ull) >> 60);
}

// Up to 64 bits of a packed array as one word (bits beyond them read as 0).
inline uint64_t LoadShort(const uint8_t* P, int64_t Count) {
    return LoadBytesLE(P, TVarLen::BytesFor(Count));
}

} // namespace

void TKorvexLink::OnShift(const uint8_t* Tdi, const uint8_t* Capture, int64_t Count, bool Exit) {
    if (Count <= 0)
        return;
    const int64_t D = FDivider;
    if (D == 0 && Count <= ShortScanBits && FQueueLength + ShortScanBytes <= QueueSize) {
        // A short scan at full speed, the bulk of a CPLD file: its bits in two words and its
        // bytes written straight into the queue, the same bytes as below.
        const uint64_t T = LoadShort(Tdi, Count);
        const uint64_t C = LoadShort(Capture, Count);
        uint8_t* const Q0 = FQueue.data() + FQueueLength;
        uint8_t* Q = Q0;
        const auto Pin = [&](bool High) {
            FLastTms = High ? 1 : 0;
            *Q++ = static_cast<uint8_t>(CmdPin | (FLastTms << 2) | FPinState);
        };
        const auto T0 = static_cast<uint8_t>(T & 1);
        if (Count == 1)
            Pin(Exit);
        *Q++ = L(T0);
        *Q++ = (C & 1) ? R(T0) : H(T0);
        if (Count > 1) {
            const int64_t Last = Count - 1;
            // The whole groups between the first and the last bit, at once.
            const int64_t Groups = (Last - 1) / 4;
            WriteGroups(Q, T >> 1, C >> 1);
            Q += Groups;
            const int64_t I = 1 + 4 * Groups;
            if (const int64_t K = Last - I; K > 0) {
                const uint64_t Keep = (uint64_t{1} << K) - 1;
                *Q++ = Group(static_cast<unsigned>(K), static_cast<unsigned>((T >> I) & Keep),
                             ((C >> I) & Keep) != 0);
            }
            const auto TL = static_cast<uint8_t>((T >> Last) & 1);
            *Q++ = L(TL);
            Pin(Exit);
            *Q++ = ((C >> Last) & 1) ? R(TL) : H(TL);
            *Q++ = L(0);
        }
        FQueueLength += static_cast<uint32_t>(Q - Q0);
        if (FQueueLength >= QueueSize)
            FlushKorvex();
        return;
    }
    // The high phase of one bit: the rising edge, held for the divider, TDO sampled last.
    auto High = [&](uint8_t Level, bool Read) {
        for (int64_t K = 1; K < D; ++K)
            WriteKorvexByte(H(Level));
        WriteKorvexByte(Read ? R(Level) : H(Level));
    };
    const auto T0 = static_cast<uint8_t>(BitAt(Tdi, 0));
    if (Count == 1) {
        // The only bit is also the last: TMS decides whether the TAP leaves the shift state,
        // so it is set explicitly, low when the scan is to continue.
        QueuePin(Exit ? 1 : 0);
        WriteKorvexByte(L(T0));
        High(T0, BitAt(Capture, 0) != 0);
        return;
    }

    WriteKorvexByte(L(T0));
    High(T0, BitAt(Capture, 0) != 0);

    const int64_t Last = Count - 1;
    if (D > 0) {
        for (int64_t I = 1; I < Last; ++I) {
            const auto T = static_cast<uint8_t>(BitAt(Tdi, I));
            for (int64_t K = 0; K < D; ++K)
                WriteKorvexByte(L(T));
            High(T, BitAt(Capture, I) != 0);
        }
    } else {
        const int64_t Bytes = TVarLen::BytesFor(Count);
        int64_t I = 1;
        while (Last - I >= 4) {
            const int64_t Room = QueueSize - FQueueLength;
            const int64_t Groups = std::min<int64_t>((Last - I) / 4, Room);
            uint8_t* Q = FQueue.data() + FQueueLength;
            int64_t G = 0;
            while (G < Groups) {
                const int64_t Pos = I + G * 4;
                if (Groups - G >= GroupsPerLoad && (Pos >> 3) + 8 <= Bytes) {
                    const unsigned Shift = static_cast<unsigned>(Pos & 7);
                    uint64_t T = Load64(Tdi + (Pos >> 3)) >> Shift;
                    uint64_t C = Load64(Capture + (Pos >> 3)) >> Shift;
                    for (int64_t J = 0; J < GroupsPerLoad; ++J, T >>= 4, C >>= 4)
                        Q[G + J] = static_cast<uint8_t>(0x30 | (T & 0x0F) |
                                                        ((C & 0x0F) ? CmdReadBack : 0));
                    G += GroupsPerLoad;
                } else {
                    Q[G] = static_cast<uint8_t>(GroupByte(Tdi, Capture, Count, Pos));
                    ++G;
                }
            }
            I += Groups * 4;
            FQueueLength += static_cast<uint32_t>(Groups);
            if (FQueueLength >= QueueSize)
                FlushKorvex();
        }
        if (const int64_t K = Last - I; K > 0) {
            const unsigned Keep = (1u << K) - 1;
            const unsigned Bits = PackedBits8(Tdi, Count, I) & Keep;
            const bool Read = (PackedBits8(Capture, Count, I) & Keep) != 0;
            WriteKorvexByte(Group(static_cast<unsigned>(K), Bits, Read));
        }
    }

    const auto TL = static_cast<uint8_t>(BitAt(Tdi, Last));
    const int64_t Phase = std::max<int64_t>(D, 1);
    for (int64_t K = 0; K < Phase; ++K)
        WriteKorvexByte(L(TL));
    QueuePin(Exit ? 1 : 0);
    High(TL, BitAt(Capture, Last) != 0);
    for (int64_t K = 0; K < Phase; ++K)
        WriteKorvexByte(L(0));
}

int64_t TKorvexLink::CountScanReplies(const uint8_t* Capture, int64_t Count) const {
    if (Count <= 0)
        return 0;
    if (FDivider == 0 && Count <= ShortScanBits && Count > 1) {
        // First and last bit one reply each, the groups of four between them one each.
        const uint64_t C = LoadShort(Capture, Count);
        const int64_t Last = Count - 1;
        const uint64_t Middle = (C >> 1) & ((uint64_t{1} << (Last - 1)) - 1);
        return static_cast<int64_t>((C & 1) + ((C >> Last) & 1)) + CapturingGroups(Middle);
    }
    int64_t Replies = BitAt(Capture, 0);
    if (Count == 1)
        return Replies;
    const int64_t Last = Count - 1;
    Replies += BitAt(Capture, Last);
    int64_t I = 1;
    if (FDivider > 0) {
        for (; I < Last; ++I)
            Replies += BitAt(Capture, I);
        return Replies;
    }
    const int64_t Bytes = TVarLen::BytesFor(Count);
    while (Last - I >= 4) {
        if ((Last - I) / 4 >= GroupsPerLoad && (I >> 3) + 8 <= Bytes) {
            const uint64_t C = Load64(Capture + (I >> 3)) >> (I & 7);
            Replies += CapturingGroups(C & ((uint64_t{1} << (4 * GroupsPerLoad)) - 1));
            I += 4 * GroupsPerLoad;
        } else {
            Replies += (PackedBits8(Capture, Count, I) & 0x0F) ? 1 : 0;
            I += 4;
        }
    }
    if (const int64_t K = Last - I; K > 0)
        Replies += (PackedBits8(Capture, Count, I) & ((1u << K) - 1)) ? 1 : 0;
    return Replies;
}

bool TKorvexLink::OnReadCaptured(uint8_t* Tdo, const uint8_t* Capture, int64_t Count) {
    if (Count <= 0)
        return true;
    // A read-back not there yet is asked for again with the same scan until it is: the replies
    // it needs are counted once, not at every poll (a long scan has megabits of capture flags).
    if (Capture != FNeededFor.Capture || Count != FNeededFor.Count ||
        FDivider != FNeededFor.Divider) {
        FNeededFor = {Capture, Count, FDivider, CountScanReplies(Capture, Count)};
    }
    const int64_t Needed = FNeededFor.Replies;
    if (Needed == 0) {
        FNeededFor = {};
        return true;
    }
    if (!FetchReplies(Needed))
        return false;
    FNeededFor = {};

    // Replies are held as their low nibbles, two to a byte: all a group shift answers (its four
    // TDO bits) and all a bit command does (bit 3).
    if (FDivider == 0 && Count <= ShortScanBits) {
        // A short scan: its bits gathered in one word, as OnShift grouped them. Whether a group
        // answered decides only how far the replies move on, not whether one is read: no branch
        // on the capture flags, which vary from scan to scan. A read past the scan's replies
        // (after its last one) is held at the last one and not used.
        const uint64_t C = LoadShort(Capture, Count);
        const size_t LastReply = FReplyPos + static_cast<size_t>(Needed) - 1;
        const uint8_t* const Data = FReplies.data();
        size_t Pos = FReplyPos;
        const auto Take = [&](uint64_t Answers) {
            const size_t At = std::min(Pos, LastReply);
            Pos += Answers;
            return static_cast<uint64_t>((Data[At >> 1] >> ((At & 1) * 4)) & 0x0F) & -Answers;
        };
        uint64_t V = (Take(C & 1) >> 3) & 1;
        if (Count >= 2) {
            const int64_t Last = Count - 1;
            int64_t I = 1;
            for (; Last - I >= 4; I += 4)
                V |= Take(((C >> I) & 0x0F) != 0) << I;
            if (const int64_t K = Last - I; K > 0) {
                const uint64_t Keep = (uint64_t{1} << K) - 1;
                V |= (Take(((C >> I) & Keep) != 0) & Keep) << I;
            }
            V |= ((Take((C >> Last) & 1) >> 3) & 1) << Last;
        }
        StoreBytesLE(Tdo, V, TVarLen::BytesFor(Count));
        ConsumeReplies(Needed);
        return true;
    }
    struct TReplies {
        const uint8_t* Data;
        size_t Pos;
        unsigned Next() {
            const unsigned V = (Data[Pos >> 1] >> ((Pos & 1) * 4)) & 0x0F;
            ++Pos;
            return V;
        }
    } Reply{FReplies.data(), FReplyPos};
    // Bits are ORed in below; the ones not captured stay 0.
    std::memset(Tdo, 0, static_cast<size_t>(TVarLen::BytesFor(Count)));
    // Bits (at most eight) placed from bit Pos on.
    auto Put = [Tdo](int64_t Pos, unsigned Bits) {
        const unsigned V = Bits << (Pos & 7);
        Tdo[Pos >> 3] |= static_cast<uint8_t>(V);
        if (V >> 8)
            Tdo[(Pos >> 3) + 1] |= static_cast<uint8_t>(V >> 8);
    };
    if (BitAt(Capture, 0))
        Put(0, (Reply.Next() & BitReplyMask) ? 1 : 0);
    if (Count >= 2) {
        const int64_t Last = Count - 1;
        int64_t I = 1;
        if (FDivider > 0) {
            for (; I < Last; ++I)
                if (BitAt(Capture, I))
                    Put(I, (Reply.Next() & BitReplyMask) ? 1 : 0);
        } else {
            for (; Last - I >= 4; I += 4)
                if (PackedBits8(Capture, Count, I) & 0x0F)
                    Put(I, Reply.Next() & 0x0F);
            if (const int64_t K = Last - I; K > 0) {
                const unsigned Keep = (1u << K) - 1;
                if (PackedBits8(Capture, Count, I) & Keep)
                    Put(I, Reply.Next() & Keep);
            }
        }
        if (BitAt(Capture, Last))
            Put(Last, (Reply.Next() & BitReplyMask) ? 1 : 0);
    }
    ConsumeReplies(Needed);
    return true;
}

void TKorvexLink::ConsumeReplies(int64_t Count) {
    FReplyPos += static_cast<size_t>(Count);
    if (FReplyPos == FReplyCount)
        ClearReplies();
}

void TKorvexLink::OnClockTms(uint8_t Tdi, uint8_t Tms) {
    const uint8_t D = Tdi ? 1 : 0;
    if (FDivider <= 1 && FQueueLength + 4 <= QueueSize) {
        // The common case, a TAP walk at full speed: the four bytes of one clock in one go.
        FLastTms = Tms ? 1 : 0;
        uint8_t* Q = FQueue.data() + FQueueLength;
        Q[0] = static_cast<uint8_t>(CmdPin | (FLastTms << 2) | FPinState);
        Q[1] = L(D);
        Q[2] = H(D);
        Q[3] = L(D);
        FQueueLength += 4;
        if (FQueueLength >= QueueSize)
            FlushKorvex();
        return;
    }
    const int64_t Phase = std::max<int64_t>(FDivider, 1);
    QueuePin(Tms);
    WriteKorvexByte(L(D));
    for (int64_t K = 0; K < Phase; ++K)
        WriteKorvexByte(H(D));
    for (int64_t K = 0; K < Phase; ++K)
        WriteKorvexByte(L(D));
}

void TKorvexLink::OnTmsPath(uint32_t TmsBits, int Count) {
    if (FDivider <= 1 && FQueueLength + 4 * static_cast<uint32_t>(Count) <= QueueSize) {
        // A walk at full speed: four bytes a clock, as OnClockTms queues them, without a call
        // for each.
        // A clock's bytes as one word: the pin command first, TCK low, high and low after it.
        const uint8_t Clock[4] = {static_cast<uint8_t>(CmdPin | FPinState), L(0), H(0), L(0)};
        uint32_t Word;
        std::memcpy(&Word, Clock, 4);
        uint8_t* Q = FQueue.data() + FQueueLength;
        for (int I = 0; I < Count; ++I, Q += 4) {
            // TMS is bit 2 of the pin command, the first byte in memory.
            const uint32_t Tms = (TmsBits >> I) & 1;
            const uint32_t W =
                std::endian::native == std::endian::little ? Word | Tms << 2 : Word | Tms << 26;
            std::memcpy(Q, &W, 4);
        }
        FLastTms = static_cast<uint8_t>((TmsBits >> (Count - 1)) & 1);
        FQueueLength += 4 * static_cast<uint32_t>(Count);
        if (FQueueLength >= QueueSize)
            FlushKorvex();
        return;
    }
    for (int I = 0; I < Count; ++I)
        OnClockTms(0, static_cast<uint8_t>((TmsBits >> I) & 1));
}
