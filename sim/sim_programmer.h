#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
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
    int64_t Errors = 0;
    // Device time in sixths of a microsecond: every duration of the model is a whole number of
    // them (a 3 MHz period is 2, a bit-level command 3, a pause 1024).
    int64_t DeviceTicks = 0;
    int64_t DeviceMicroseconds() const { return (DeviceTicks + 3) / 6; }
};

class TProgrammer {
public:
    explicit TProgrammer(const TConfig& Config);
    ~TProgrammer();
    TProgrammer(const TProgrammer&) = delete;
    TProgrammer& operator=(const TProgrammer&) = delete;

    // Interprets Count command bytes (one FT_Write's worth).
    void Write(const uint8_t* Bytes, size_t Count);
    // Reply bytes the host may read now (delays applied); each call counts as one poll.
    size_t PollAvailable();
    size_t Read(uint8_t* Buffer, size_t Count);
    void PurgeReplies();
    // Flushes the trace with the totals and writes the summary; called at FT_Close.
    void Finish();

    const TTotals& Totals() const { return FTotals; }

private:
    using Clock = std::chrono::steady_clock;

    void Command(uint8_t B);
    void SetTck(uint8_t Level);
    void Rise();
    void Fall();
    uint8_t ChainOutput() const;
    void Reply(uint8_t B);
    void SpeedSelect(int64_t Hz, int64_t TicksPerClock);
    void GroupShift(uint8_t B);
    // Counts a run of group shifts from From on without stepping the model; returns its end.
    size_t CountGroupShifts(const uint8_t* Bytes, size_t From, size_t Count);

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
