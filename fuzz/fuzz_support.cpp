#include "fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "var_len.h"

namespace {

// IEEE 1149.1 next state for TMS 0 and 1, in the state numbering of the players.
constexpr uint8_t NextState[16][2] = {
    {1, 0},   // RESET
    {1, 2},   // IDLE
    {3, 9},   // DRSELECT
    {4, 5},   // DRCAPTURE
    {4, 5},   // DRSHIFT
    {6, 8},   // DREXIT1
    {6, 7},   // DRPAUSE
    {4, 8},   // DREXIT2
    {1, 2},   // DRUPDATE
    {10, 0},  // IRSELECT
    {11, 12}, // IRCAPTURE
    {11, 12}, // IRSHIFT
    {13, 15}, // IREXIT1
    {13, 14}, // IRPAUSE
    {11, 15}, // IREXIT2
    {1, 2},   // IRUPDATE
};
constexpr uint8_t DrShift = 4, IrShift = 11;

std::string TempFolder() {
    // Shared memory keeps the three file handles of a run off the disk.
    if (::access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    const char* T = std::getenv("TMPDIR");
    return T ? T : "/tmp";
}

} // namespace

TFuzzInputFile::TFuzzInputFile(const std::string& Extension)
    : FPath(TempFolder() + "/korvex-fuzz-" + std::to_string(::getpid()) + Extension) {}

TFuzzInputFile::~TFuzzInputFile() {
    std::remove(FPath.c_str());
}

const std::string& TFuzzInputFile::Write(const uint8_t* Data, size_t Size) {
    std::ofstream Out(FPath, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
    Out.close();
    if (!Out)
        FuzzFault("cannot write the input file " + FPath);
    return FPath;
}

void FuzzFault(const std::string& What) {
    std::fprintf(stderr, "FUZZ FAULT: %s\n", What.c_str());
    std::fflush(stderr);
    std::abort();
}

void TRecordingDevice::Assign(TJtagFile& P) {
    P.Events.OnMessage = [this](const std::string&, uint8_t Severity) {
        if (Severity > 3)
            FuzzFault("message with severity " + std::to_string(Severity));
        ++Messages;
    };
    P.Events.OnClockTms = [this](uint8_t, uint8_t Tms) {
        ++Clocks;
        FState = NextState[FState][Tms ? 1 : 0];
    };
    P.Events.OnShift = [this](const uint8_t* Tdi, const uint8_t* Capture, int64_t Count,
                              bool Exit) {
        if (Count < 0)
            FuzzFault("shift of a negative bit count");
        if (Count == 0)
            return;
        if (FCheckShiftState && FState != DrShift && FState != IrShift)
            FuzzFault("shift outside Shift-DR/Shift-IR (state " + std::to_string(FState) + ")");
        ShiftedBits += static_cast<uint64_t>(Count);
        FShifts.fetch_add(1, std::memory_order_relaxed);
        const auto Bytes = static_cast<size_t>(TVarLen::BytesFor(Count));
        // Packed arrays: the bits above Count in the last byte mean nothing, so they are
        // cleared before the capture is kept for comparison with its read-back.
        std::vector<uint8_t> Flags(Capture, Capture + Bytes);
        if (Count & 7)
            Flags.back() &= static_cast<uint8_t>((1u << (Count & 7)) - 1);
        if (std::any_of(Flags.begin(), Flags.end(), [](uint8_t C) { return C != 0; }))
            FPending.push_back({std::vector<uint8_t>(Tdi, Tdi + Bytes), std::move(Flags)});
        if (Exit && (FState == DrShift || FState == IrShift))
            FState = NextState[FState][1];
    };
    // The link sends what is still queued when a read-back asks for it, so a flush is not part
    // of the contract checked here.
    P.Events.OnFlush = [] {};
    P.Events.OnReadCaptured = [this](uint8_t* Tdo, const uint8_t* Capture, int64_t Count) {
        if (Count < 0)
            FuzzFault("read-back of a negative bit count");
        const auto Bytes = static_cast<size_t>(TVarLen::BytesFor(Count));
        std::vector<uint8_t> Flags(Capture, Capture + Bytes);
        if (Count & 7)
            Flags.back() &= static_cast<uint8_t>((1u << (Count & 7)) - 1);
        if (std::none_of(Flags.begin(), Flags.end(), [](uint8_t C) { return C != 0; }))
            return true; // nothing captured, nothing to collect
        if (FPending.empty())
            FuzzFault("read-back of a scan that was never shifted");
        const TPending& S = FPending.front();
        if (S.Tdi.size() != Bytes || S.Capture != Flags)
            FuzzFault("read-back does not match the oldest capturing shift");
        // Alternate between a loopback chain (TDO = TDI) and all zeros, so compares both pass
        // and fail and the players' mismatch paths are reached too.
        const bool Loopback = (FReads++ & 1) == 0;
        for (size_t I = 0; I < Bytes; ++I)
            Tdo[I] = Loopback ? S.Tdi[I] : 0;
        FPending.pop_front();
        return true;
    };
    P.Events.OnWaitTime = [](bool, int64_t, uint8_t) {};
    P.Events.OnRunClocks = [](bool, int64_t, uint8_t) {};
    // The line is driven: TRST on puts the TAP in Test-Logic-Reset (state 0) without a clock.
    P.Events.OnSetTrst = [this](bool On, bool Drive) {
        if (On && Drive)
            FState = 0;
        return true;
    };
    P.Events.OnSetFrequency = [](int64_t Hz, bool) { return Hz; };
}

int TRecordingDevice::Play(TJtagFile& P, int LimitSeconds) {
    Assign(P);
    P.Start(3000000);
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(LimitSeconds);
    bool Cancelled = false;
    while (P.Status() == 0) {
        if (!Cancelled && FShifts.load(std::memory_order_relaxed) > ShiftBudget) {
            P.RequestTerminate();
            Cancelled = true;
        }
        if (std::chrono::steady_clock::now() > Deadline)
            FuzzFault(Cancelled
                          ? "the run did not stop after it was cancelled"
                          : "the run did not end within " + std::to_string(LimitSeconds) + " s");
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    const int Status = P.Status();
    if (Status == 2 && !FPending.empty())
        FuzzFault("the run passed without reading back " + std::to_string(FPending.size()) +
                  " captured scan(s)");
    return Status;
}
