#include <cstring>
#include <stdexcept>

#include "korvex_link.h"

// Timing and TRST. Times and counts are 64-bit throughout (intermediate products 128-bit), so a
// wait of hours is queued in full instead of wrapping into a short or negative one.

using namespace korvex;

namespace {

using Int128 = __int128;

// Num / Den rounded to the nearest integer, halves to even (Den > 0, Num >= 0).
int64_t DivRoundEven(Int128 Num, Int128 Den) {
    Int128 Q = Num / Den;
    const Int128 Twice = 2 * (Num % Den);
    if (Twice > Den || (Twice == Den && (Q & 1)))
        ++Q;
    return static_cast<int64_t>(Q);
}

constexpr int64_t SlowClockHz = 93750;

} // namespace

int64_t TKorvexLink::OnSetFrequency(int64_t FrequencyHz, bool Send) {
    if (FrequencyHz <= 0)
        throw std::runtime_error("Cannot set a TCK frequency of " + std::to_string(FrequencyHz) +
                                 " Hz: the frequency must be positive");
    FRequestedFrequency = FrequencyHz;
    FDivider = 0;
    uint8_t Select = CmdSpeed3M;
    if (FrequencyHz >= 3000000) {
        Frequency = 3000000;
    } else if (FrequencyHz >= 1500000) {
        Frequency = 1500000;
        Select = CmdSpeed1M5;
    } else if (FrequencyHz >= 750000) {
        Frequency = 750000;
        Select = CmdSpeed750k;
    } else {
        // Below the slowest hardware speed the host makes TCK itself from bit-level commands,
        // each lasting half a microsecond at the 3 MHz setting: Divider of them per half period.
        FDivider = (1000000 + FrequencyHz - 1) / FrequencyHz;
        Frequency = DivRoundEven(1000000, FDivider);
    }
    if (Send)
        WriteKorvexByte(Select);
    return Frequency;
}

void TKorvexLink::QueueSpeedOf(int64_t Hz) {
    if (Hz == 1500000)
        WriteKorvexByte(CmdSpeed1M5);
    else if (Hz == 750000)
        WriteKorvexByte(CmdSpeed750k);
    else
        WriteKorvexByte(CmdSpeed3M);
}

bool TKorvexLink::QueueRepeated(uint8_t Command, int64_t Count) {
    // A block at a time. A wait of hours is sent in queue-sized slices; the device takes each
    // only as its input buffer empties, so the stop flag is looked at every slice.
    while (Count > 0) {
        const int64_t Room = QueueSize - FQueueLength;
        const int64_t N = std::min(Count, Room);
        std::memset(FQueue.data() + FQueueLength, Command, static_cast<size_t>(N));
        FQueueLength += static_cast<uint32_t>(N);
        Count -= N;
        if (FQueueLength >= QueueSize) {
            FlushKorvex();
            if (Count > 0 && StopRequested())
                return false;
        }
    }
    return true;
}

void TKorvexLink::QueueClockRun(int64_t N, bool ForceFast) {
    if (N <= 0)
        return;
    const int64_t D = FDivider;
    if (D == 0 || ForceFast) {
        // Four TDI-low clocks a byte.
        if (!QueueRepeated(Group(4, 0, false), N / 4))
            return;
        if (const int64_t Rest = N % 4; Rest > 0)
            WriteKorvexByte(Group(static_cast<unsigned>(Rest), 0, false));
        return;
    }
    for (int64_t I = 0; I < N; ++I) {
        if ((I & 1023) == 1023 && StopRequested())
            return;
        for (int64_t K = 0; K < D; ++K)
            WriteKorvexByte(H(0));
        for (int64_t K = 0; K < D; ++K)
            WriteKorvexByte(L(0));
    }
}

void TKorvexLink::OnWaitTime(bool /*Sck*/, int64_t TimeUs, uint8_t Tms) {
    // The margin (SecurityTime percent) covers oscillator tolerance of the target's timers.
    const TRunOptions O = Options();
    const int64_t Margin = 100 + static_cast<int64_t>(O.SecurityTime);
    const int64_t T =
        (TimeUs <= 0 || Margin <= 0) ? 0 : DivRoundEven(static_cast<Int128>(TimeUs) * Margin, 100);
    const uint8_t Mode = O.RTwTime;
    if (Mode == 0) {
        // No clock: pauses of 512/3 us, rounded up, plus one so even a zero wait separates.
        const int64_t Pauses = static_cast<int64_t>((static_cast<Int128>(3) * T + 511) / 512) + 1;
        QueueRepeated(CmdPause, Pauses);
        return;
    }
    if (Mode == 1 && FRequestedFrequency >= SlowClockHz) {
        // The slow clock: three clocks per 32 us in the state the TMS level holds.
        QueuePin(Tms);
        WriteKorvexByte(CmdSpeedSlow);
        QueueClockRun(static_cast<int64_t>(static_cast<Int128>(3) * T / 32), true);
        QueueSpeedOf(Frequency);
        return;
    }
    QueueClockRun(static_cast<int64_t>(static_cast<Int128>(T) * Frequency / 1000000), false);
}

void TKorvexLink::OnRunClocks(bool Sck, int64_t Count, uint8_t Tms) {
    switch (Options().RTwCount) {
    case 0:
        QueueClockRun(Count, false);
        break;
    case 1:
        if (Frequency <= 0)
            throw std::runtime_error("Cannot turn a clock count into a time: no TCK frequency "
                                     "is set");
        OnWaitTime(Sck,
                   Count <= 0 ? 0 : DivRoundEven(static_cast<Int128>(Count) * 1000000, Frequency),
                   Tms);
        break;
    case 2:
        OnWaitTime(Sck, Count, Tms);
        break;
    default:
        break;
    }
}

bool TKorvexLink::OnSetTrst(bool On, bool Drive) {
    if (Options().PActive != 3) {
        if (QueueMessage)
            QueueMessage("Warning: TRST pin disabled but SVF file contains TRST command",
                         sevWarning);
        return false;
    }
    FPinState = (On && Drive) ? 3 : Drive ? 2 : 0;
    // The pin command also sets TMS: repeat the level the TAP's state relies on (a RUNTEST in
    // RESET holds TMS high), so changing TRST never moves the TAP.
    QueuePin(FLastTms);
    return true;
}
