#include <algorithm>
#include <bit>
#include <cstring>

#include "korvex_link.h"

// The scan handlers. OnShift and OnReadCaptured carry every bit of every scan, so their middle
// parts work on four bits at a time straight into the queue: one 32-bit load of the TDI bytes and
// one of the capture bytes make one group-shift byte.

using namespace korvex;

static_assert(std::endian::native == std::endian::little,
              "the four-bit packing below assumes little-endian loads");

namespace {

inline uint32_t Load4(const uint8_t* P) {
    uint32_t V;
    std::memcpy(&V, P, 4);
    return V;
}

// Four one-bit-per-byte levels (any non-zero byte is 1) packed into a nibble, byte 0 in bit 0.
inline unsigned Pack4(uint32_t V) {
    // High bit of each byte set when the byte is non-zero, then moved to bit 0 of the byte.
    const uint32_t NonZero = (((V & 0x7F7F7F7Fu) + 0x7F7F7F7Fu) | V) & 0x80808080u;
    // Bytes at 0, 8, 16, 24 land on bits 24..27; no two partial products overlap.
    return ((NonZero >> 7) * 0x01020408u) >> 24 & 0x0F;
}

// Four output bytes for a group reply: byte j = reply AND (1 << j).
struct TUnpackTable {
    uint32_t Entry[16];
    constexpr TUnpackTable() : Entry() {
        for (unsigned V = 0; V < 16; ++V)
            Entry[V] = (V & 1) | (V & 2) << 8 | (V & 4) << 16 | (V & 8) << 24;
    }
};
constexpr TUnpackTable Unpack;

} // namespace

void TKorvexLink::OnShift(const uint8_t* Tdi, const uint8_t* Capture, int64_t Count, bool Exit) {
    if (Count <= 0)
        return;
    const int64_t D = FDivider;
    // The high phase of one bit: the rising edge, held for the divider, TDO sampled last.
    auto High = [&](uint8_t Level, bool Read) {
        for (int64_t K = 1; K < D; ++K)
            WriteKorvexByte(H(Level));
        WriteKorvexByte(Read ? R(Level) : H(Level));
    };
    const uint8_t T0 = Tdi[0] ? 1 : 0;
    if (Count == 1) {
        // The only bit is also the last: TMS decides whether the TAP leaves the shift state,
        // so it is set explicitly, low when the scan is to continue.
        QueuePin(Exit ? 1 : 0);
        WriteKorvexByte(L(T0));
        High(T0, Capture[0] != 0);
        return;
    }

    WriteKorvexByte(L(T0));
    High(T0, Capture[0] != 0);

    const int64_t Last = Count - 1;
    if (D > 0) {
        for (int64_t I = 1; I < Last; ++I) {
            const uint8_t T = Tdi[I] ? 1 : 0;
            for (int64_t K = 0; K < D; ++K)
                WriteKorvexByte(L(T));
            High(T, Capture[I] != 0);
        }
    } else {
        int64_t I = 1;
        while (Last - I >= 4) {
            const int64_t Room = QueueSize - FQueueLength;
            const int64_t Groups = std::min<int64_t>((Last - I) / 4, Room);
            uint8_t* Q = FQueue.data() + FQueueLength;
            const uint8_t* T = Tdi + I;
            const uint8_t* C = Capture + I;
            for (int64_t G = 0; G < Groups; ++G, T += 4, C += 4)
                Q[G] = static_cast<uint8_t>(0x30 | Pack4(Load4(T)) | (Load4(C) ? CmdReadBack : 0));
            I += Groups * 4;
            FQueueLength += static_cast<uint32_t>(Groups);
            if (FQueueLength >= QueueSize)
                FlushKorvex();
        }
        if (const int64_t K = Last - I; K > 0) {
            unsigned Bits = 0;
            bool Read = false;
            for (int64_t J = 0; J < K; ++J) {
                Bits |= (Tdi[I + J] ? 1u : 0u) << J;
                Read |= Capture[I + J] != 0;
            }
            WriteKorvexByte(Group(static_cast<unsigned>(K), Bits, Read));
        }
    }

    const uint8_t TL = Tdi[Last] ? 1 : 0;
    const int64_t Phase = std::max<int64_t>(D, 1);
    for (int64_t K = 0; K < Phase; ++K)
        WriteKorvexByte(L(TL));
    QueuePin(Exit ? 1 : 0);
    High(TL, Capture[Last] != 0);
    for (int64_t K = 0; K < Phase; ++K)
        WriteKorvexByte(L(0));
}

int64_t TKorvexLink::CountScanReplies(const uint8_t* Capture, int64_t Count) const {
    if (Count <= 0)
        return 0;
    int64_t Replies = Capture[0] ? 1 : 0;
    if (Count == 1)
        return Replies;
    const int64_t Last = Count - 1;
    Replies += Capture[Last] ? 1 : 0;
    int64_t I = 1;
    if (FDivider > 0) {
        for (; I < Last; ++I)
            Replies += Capture[I] ? 1 : 0;
        return Replies;
    }
    for (; Last - I >= 4; I += 4)
        Replies += Load4(Capture + I) ? 1 : 0;
    bool Any = false;
    for (; I < Last; ++I)
        Any |= Capture[I] != 0;
    return Replies + (Any ? 1 : 0);
}

bool TKorvexLink::OnReadCaptured(uint8_t* Tdo, const uint8_t* Capture, int64_t Count) {
    if (Count <= 0)
        return true;
    const int64_t Needed = CountScanReplies(Capture, Count);
    if (Needed == 0)
        return true;
    if (!FetchReplies(Needed))
        return false;

    const uint8_t* Reply = FReplies.data() + FReplyPos;
    if (Capture[0])
        Tdo[0] = *Reply++ & BitReplyMask;
    if (Count >= 2) {
        const int64_t Last = Count - 1;
        int64_t I = 1;
        if (FDivider > 0) {
            for (; I < Last; ++I)
                if (Capture[I])
                    Tdo[I] = *Reply++ & BitReplyMask;
        } else {
            for (; Last - I >= 4; I += 4)
                if (Load4(Capture + I)) {
                    const uint32_t Out = Unpack.Entry[*Reply++ & 0x0F];
                    std::memcpy(Tdo + I, &Out, 4);
                }
            if (const int64_t K = Last - I; K > 0) {
                bool Any = false;
                for (int64_t J = 0; J < K; ++J)
                    Any |= Capture[I + J] != 0;
                if (Any) {
                    const uint8_t B = *Reply++;
                    for (int64_t J = 0; J < K; ++J)
                        Tdo[I + J] = static_cast<uint8_t>(B & (1u << J));
                }
            }
        }
        if (Capture[Last])
            Tdo[Last] = *Reply++ & BitReplyMask;
    }
    FReplyPos += static_cast<size_t>(Needed);
    if (FReplyPos == FReplies.size()) {
        FReplies.clear();
        FReplyPos = 0;
    }
    return true;
}

void TKorvexLink::OnClockTms(uint8_t Tdi, uint8_t Tms) {
    const uint8_t D = Tdi ? 1 : 0;
    const int64_t Phase = std::max<int64_t>(FDivider, 1);
    QueuePin(Tms);
    WriteKorvexByte(L(D));
    for (int64_t K = 0; K < Phase; ++K)
        WriteKorvexByte(H(D));
    for (int64_t K = 0; K < Phase; ++K)
        WriteKorvexByte(L(D));
}
