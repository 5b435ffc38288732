#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "sim_config.h"
#include "sim_tap.h"

// One open connection to a simulated KORVEX: interprets the command bytes the host writes, drives
// the modelled JTAG chain, produces reply bytes, keeps the device clock and writes the trace.
namespace korvexsim {

struct TTotals {
    int64_t TckCycles = 0;
    int64_t BytesWritten = 0;
    int64_t Writes = 0;
    int64_t ReplyBytes = 0;
    int64_t Reads = 0; // FT_Read calls that returned data: USB round trips for replies
    int64_t Errors = 0;
    // Device time in sixths of a microsecond: every duration of the model is a whole number of
    // them (a 3 MHz period is 2, a bit-level command 3, a pause 1024).
    // This is the time the commands take to execute.
    int64_t DeviceTicks = 0;
    // The run as a whole on the device's clock: execution, the USB transfers and the waits for
    // them (or, in real time, the wall clock while the device was idle). Set by Finish.
    int64_t TotalTicks = 0;
    static int64_t Microseconds(int64_t Ticks) { return (Ticks + 3) / 6; }
    int64_t DeviceMicroseconds() const { return Microseconds(TotalTicks); }
};

class TProgrammer {
public:
    explicit TProgrammer(const TConfig& Config);
    ~TProgrammer();
    TProgrammer(const TProgrammer&) = delete;
    TProgrammer& operator=(const TProgrammer&) = delete;

    // Interprets Count command bytes (one FT_Write's worth); in real time, queues them for the
    // device clock to reach.
    void Write(const uint8_t* Bytes, size_t Count);
    // Real time: bytes the device's input buffer takes now. When it is full, waits (at most a
    // few milliseconds) for the device to make room. Without real time: Count.
    size_t InputRoom(size_t Count);
    // Reply bytes the host may read now (delays applied); each call counts as one poll.
    size_t PollAvailable();
    size_t Read(uint8_t* Buffer, size_t Count);
    void PurgeReplies();
    // Flushes the trace with the totals and writes the summary; called at FT_Close.
    void Finish();

    const TTotals& Totals() const { return FTotals; }

private:
    using Clock = std::chrono::steady_clock;

    void Execute(const uint8_t* Bytes, size_t Count);
    // Real time: executes the queued bytes whose start time has come (all of them with All).
    void Advance(bool All);
    int64_t RealTicks() const;
    void AddBatch();
    // Counts N reply bytes read and advances the host to when they can have come.
    void TakeReplies(int64_t N);
    void Command(uint8_t B);
    void SetTck(uint8_t Level);
    void Rise();
    void Fall();
    uint8_t ChainOutput() const;
    void Reply(uint8_t B);
    void SpeedSelect(int64_t Hz, int64_t TicksPerClock);
    void GroupShift(uint8_t B);
    // Whether group shifts from this pin state can be counted: the TAP stays where it is, and
    // the first clock samples the constant level (TCK high, so it is driven anew, or TDO holds
    // it already, as after a TAP walk).
    bool GroupShiftsCountable(uint8_t Tck, uint8_t Tdo, TState State, uint8_t Tms) const {
        return (Tck || Tdo == FConfig.TdoConstant) && NextState[State][Tms] == State;
    }
    // Counts a run of group shifts from From on without stepping the model; returns its end.
    size_t CountGroupShifts(const uint8_t* Bytes, size_t From, size_t Count);
    // The same for a run of bit and pin commands (TAP walks, scan edges) and the group shifts
    // between them: the TAP follows, the visit bookkeeping only the trace and the scripts look
    // at is left out.
    size_t CountBitCommands(const uint8_t* Bytes, size_t From, size_t Count);

    // Trace.
    bool Tracing() const { return FTrace != nullptr; }
    void Line(const std::string& Text);
    void FlushPending();
    void Error(const std::string& Text);
    void EndShiftVisit();

    const TConfig& FConfig;
    std::vector<TChainDevice> FChain;
    TState FState = RESET; // the TAP as seen from the programmer's pins
    uint8_t FTck = 0, FTms = 1, FTdi = 0, FTdoPin = 1;
    int FPinState = -1;   // unknown until the first pin command
    int64_t FSpeedHz = 0; // unknown until the first speed select
    int64_t FTicksPerClock = 2;
    bool FStarted = false;

    // Replies produced and not yet read, with the batch marks that delays act on.
    std::vector<uint8_t> FReplies;
    size_t FReplyRead = 0;
    struct TBatch {
        size_t End;
        int64_t VisibleAtPoll;
        Clock::time_point VisibleAt;
    };
    std::vector<TBatch> FBatches;
    size_t FVisibleEnd = 0;
    int64_t FLostReplies = 0; // in the current write, reported once at its end
    int64_t FPolls = 0;

    // The timeline, in ticks since the connection's first write. The host is taken as infinitely
    // fast: it waits only for USB transfers and for replies.
    int64_t FHostTicks = 0;     // when the host has finished its last transfer
    int64_t FDeviceEnd = 0;     // when the device has executed everything it was sent
    int64_t FLastReplyExec = 0; // DeviceTicks when the last reply byte was made
    int64_t FRepliesTaken = 0;  // reply bytes read or purged, of FTotals.ReplyBytes made
    struct TReplyTime {
        int64_t End;   // replies made up to here (a count of FTotals.ReplyBytes)
        int64_t Ready; // when the last of them was made
    };
    std::deque<TReplyTime> FReplyTimes;
    int64_t FReplyTimesBase = 0; // the replies before the first entry

    // Real time: the bytes written and not yet executed.
    Clock::time_point FRealStart{};
    std::vector<uint8_t> FInput;
    size_t FInputHead = 0;

    // The current Shift-IR/Shift-DR visit.
    bool FInShift = false;
    int64_t FShiftBits = 0;
    std::vector<uint8_t> FShiftTdi, FShiftTdo;
    const TScriptedScan* FScripted = nullptr;
    size_t FScriptNext = 0;

    FILE* FTrace = nullptr;
    int64_t FPendingClocks = 0;
    int64_t FPendingWaitTicks = 0;
    TTotals FTotals;
};

} // namespace korvexsim
