#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "line_exception.h"
#include "svf_hex.h"
#include "svf_test_util.h"
#include "tap_state.h"

namespace {

// Plays a file on one object without the worker: execute each statement, then check its scan
// at once (as a reader copy that has caught up would). Starts in IDLE, as after the reset walk.
struct TDirectRun {
    TEventLog Log;
    std::vector<TCompareResult> Checks;
    uint8_t FinalState = 0;

    explicit TDirectRun(const std::string& Text, std::deque<std::string> Answers = {}) {
        Log.Answers = std::move(Answers);
        TSVFFile F(WriteTemp("exec.svf", Text));
        Log.Attach(F);
        TSVFStepper S(F);
        S.SetDefaultFrequency(750000);
        S.SetCurrentState(tsIDLE);
        TSVFCommand C;
        do {
            S.ParseAndApply(C);
            S.Execute(C);
            if (C.Command == cmdSDR || C.Command == cmdSIR)
                Checks.push_back(S.Check(C));
        } while (!S.End(C));
        FinalState = S.CurrentState();
    }
    std::vector<std::string> Calls() const { return Log.Without({"FLUSH", "READ"}); }
    std::vector<std::string> Texts() const {
        std::vector<std::string> T;
        for (const auto& M : Log.Messages)
            T.push_back(M.first);
        return T;
    }
};

struct TExecCase {
    const char* Name;
    const char* Text;
    std::vector<std::string> Calls; // event calls other than flushes and read-backs
    uint8_t FinalState;
};

const std::string T1 = "TMS 1", T0 = "TMS 0";

TEST(SvfExecutor, EventSequences) {
    const std::vector<TExecCase> Cases = {
        {"SDR from IDLE",
         "SDR 8 TDI (A5);",
         {T1, T0, T0, "SHIFT 8 10100101 00000000 exit", T1, T0},
         tsIDLE},
        {"header and trailer",
         "HDR 2 TDI (3); TDR 1 TDI (0); SDR 4 TDI (5) TDO (F);",
         {T1, T0, T0, "SHIFT 7 1110100 0011110 exit", T1, T0},
         tsIDLE},
        {"SIR ending in IRPAUSE",
         "ENDIR IRPAUSE; SIR 8 TDI (AA);",
         {T1, T1, T0, T0, "SHIFT 8 01010101 00000000 exit", T0},
         tsIRPAUSE},
        {"DR scans through DRPAUSE",
         "ENDDR DRPAUSE; SDR 8 TDI (00); SDR 8 TDI (00);",
         {T1, T0, T0, "SHIFT 8 00000000 00000000 exit", T0, T1, T0,
          "SHIFT 8 00000000 00000000 exit", T0},
         tsDRPAUSE},
        // A scan of no bits never enters Shift: the TAP goes to the end state directly.
        {"scan of no bits", "SDR 0;", {}, tsIDLE},
        {"RUNTEST clocks", "RUNTEST 1000 TCK;", {"RUN 0 1000 0"}, tsIDLE},
        {"RUNTEST SCK", "RUNTEST 20 SCK;", {"RUN 1 20 0"}, tsIDLE},
        {"RUNTEST in RESET",
         "RUNTEST RESET 10 TCK;",
         {T1, T1, T1, T1, T1, T1, "RUN 0 10 1"},
         tsRESET},
        {"RUNTEST time", "RUNTEST 1E-3 SEC;", {"WAIT 0 1000 0"}, tsIDLE},
        {"RUNTEST clocks and time",
         "RUNTEST 100 TCK 1E-2 SEC;",
         {"RUN 0 100 0", "WAIT 0 10000 0"},
         tsIDLE},
        {"RUNTEST waits only what the clocks do not take",
         "FREQUENCY 1E6 HZ; RUNTEST 100 TCK 1E-2 SEC; RUNTEST 20000 TCK 1E-2 SEC;",
         {"FREQ 1000000 0", "FREQ 1000000 1", "RUN 0 100 0", "WAIT 0 9900 0", "RUN 0 20000 0"},
         tsIDLE},
        {"RUNTEST in DRPAUSE, end state",
         "RUNTEST DRPAUSE 50E-3 SEC ENDSTATE IDLE;",
         {T1, T0, T1, T0, "WAIT 0 50000 0", T1, T1, T0},
         tsIDLE},
        {"RUNTEST end state not kept",
         "RUNTEST 100 TCK ENDSTATE DRPAUSE; RUNTEST 5 TCK;",
         {"RUN 0 100 0", T1, T0, T1, T0, T1, T1, T0, "RUN 0 5 0"},
         tsIDLE},
        {"RUNTEST run state kept",
         "RUNTEST DRPAUSE 5 TCK; RUNTEST 6 TCK;",
         {T1, T0, T1, T0, "RUN 0 5 0", "RUN 0 6 0"},
         tsDRPAUSE},
        {"TRST options",
         "TRST ON; TRST OFF; TRST Z; TRST ABSENT;",
         {"TRST 1 1", "TRST 0 1", "TRST 0 0"},
         tsRESET},
        {"STATE pause twice", "STATE DRPAUSE; STATE DRPAUSE;", {T1, T0, T1, T0}, tsDRPAUSE},
        {"STATE path", "STATE RESET IDLE;", {T1, T1, T1, T1, T1, T1, T0}, tsIDLE},
        {"FREQUENCY",
         "FREQUENCY 1.5E6 HZ; FREQUENCY;",
         {"FREQ 1500000 0", "FREQ 1500000 1", "FREQ 750000 0", "FREQ 750000 1"},
         tsIDLE},
        {"FREQUENCY rounds halves to even", "FREQUENCY 2.5 HZ;", {"FREQ 2 0", "FREQ 2 1"}, tsIDLE},
    };
    for (const TExecCase& C : Cases) {
        TDirectRun R(C.Text);
        EXPECT_EQ(R.Calls(), C.Calls) << C.Name;
        EXPECT_EQ(int(R.FinalState), int(C.FinalState)) << C.Name;
    }
}

TEST(SvfExecutor, WaitingMessages) {
    const std::vector<std::tuple<const char*, const char*, const char*>> Cases = {
        {"RUNTEST 2.5 SEC;", "Waiting 2.5 seconds...", "WAIT 0 2500000 0"},
        {"RUNTEST 12.34 SEC;", "Waiting 12.3 seconds...", "WAIT 0 12340000 0"},
        {"RUNTEST 123.45 SEC;", "Waiting 123.0 seconds...", "WAIT 0 123450000 0"},
        {"RUNTEST 99.96 SEC;", "Waiting 100.0 seconds...", "WAIT 0 99960000 0"},
        {"RUNTEST 1 SEC;", "Waiting 1.0 seconds...", "WAIT 0 1000000 0"},
        // Beyond 32 bits of microseconds, waited in full and still in fixed notation.
        {"RUNTEST 5000 SEC;", "Waiting 5000.0 seconds...", "WAIT 0 5000000000 0"},
        {"RUNTEST 4321.5 SEC;", "Waiting 4320.0 seconds...", "WAIT 0 4321500000 0"},
    };
    for (const auto& [Text, Message, Call] : Cases) {
        TDirectRun R(Text);
        EXPECT_EQ(R.Texts(), std::vector<std::string>{Message}) << Text;
        EXPECT_EQ(R.Calls(), std::vector<std::string>{Call}) << Text;
    }
    EXPECT_TRUE(TDirectRun("RUNTEST 0.999999 SEC;").Texts().empty());
}

TEST(SvfExecutor, RuntestWithoutCountOrTime) {
    for (const char* Text : {"RUNTEST;", "RUNTEST TCK;", "STATE IDLE;\nRUNTEST IDLE;"}) {
        try {
            TDirectRun R(Text);
            ADD_FAILURE() << Text;
        } catch (const ELineException& E) {
            EXPECT_STREQ(E.what(),
                         "RUNTEST without both parameters \"run_count\" and \"min_time SEC\"");
            EXPECT_EQ(E.LineText, std::string(Text).substr(std::string(Text).rfind('R')));
        }
    }
    // A wait too long to count is refused, never shortened or skipped.
    for (const char* Text :
         {"RUNTEST -1 SEC;", "RUNTEST 5E12 SEC;", "RUNTEST 1E13 SEC;", "RUNTEST 1E308 SEC;"})
        EXPECT_THROW(TDirectRun{Text}, ELineException) << Text;
    EXPECT_EQ(TDirectRun("RUNTEST 9007199254 SEC;").Calls().back(), "WAIT 0 9007199254000000 0");
}

struct TCompareCase {
    const char* Name;
    const char* Text;
    std::vector<std::string> Answers; // read-back per scan, bit 0 first
    std::vector<TCompareResult> Checks;
    std::vector<std::string> Messages;
};

TEST(SvfExecutor, Compare) {
    const std::vector<TCompareCase> Cases = {
        {"match", "SDR 8 TDI (00) TDO (0F);", {"11110000"}, {TCompareResult::Match}, {}},
        {"mismatch",
         "SDR 8 TDI (00) TDO (0F);",
         {"01110000"},
         {TCompareResult::Mismatch},
         {"Error on SDR instruction: ", "Expected: 1111 0000 ", "Readed:   0111 0000 ",
          "Expected (hex): 0F", "Read     (hex): 0E", "Mask     (hex): FF",
          "Failing SDR statement near line 1"}},
        {"masked bit ignored",
         "SDR 8 TDI (00) TDO (0F) MASK (0E);",
         {"01110000"},
         {TCompareResult::Match},
         {}},
        {"no TDO, nothing compared", "SDR 8 TDI (00);", {"11111111"}, {TCompareResult::Match}, {}},
        {"IR scan with header",
         "HIR 2 TDI (3) TDO (1);\nSIR 3 TDI (0) TDO (5) MASK (7);",
         {"10100"},
         {TCompareResult::Mismatch},
         {"Error on SIR instruction: ", "Expected: 1010 1", "Readed:   1010 0",
          "Expected (hex): 15", "Read     (hex): 05", "Mask     (hex): 1F",
          "Failing SIR statement near line 2"}},
        {"mismatch beyond the first byte",
         "SDR 12 TDI (000) TDO (800);",
         {"000000000000"},
         {TCompareResult::Mismatch},
         {"Error on SDR instruction: ", "Expected: 0000 0000 0001 ", "Readed:   0000 0000 0000 ",
          "Expected (hex): 800", "Read     (hex): 000", "Mask     (hex): FFF",
          "Failing SDR statement near line 1"}},
    };
    for (const TCompareCase& C : Cases) {
        TDirectRun R(C.Text, {C.Answers.begin(), C.Answers.end()});
        EXPECT_EQ(R.Checks, C.Checks) << C.Name;
        EXPECT_EQ(R.Texts(), C.Messages) << C.Name;
        for (const auto& M : R.Log.Messages)
            EXPECT_EQ(M.second, sevError) << C.Name;
    }
}

// A statement of a few bytes may ask for a scan of hundreds of millions of bits (values zero-
// extend, MASK turns to all ones). Such a scan goes out in slices, never whole, and is compared
// slice by slice; a mismatch shows the window of bits that holds the failing one.
TEST(SvfExecutor, HugeScansFromShortValuesGoInSlices) {
    const int64_t Slice = TSVFFile::SliceBits;
    struct TRow {
        const char* Name;
        std::string Text;
        int64_t Bits;     // of the last scan, header and trailer included
        int64_t Compared; // first and last bit compared in it, -1 for none
        int64_t LastCompared;
        std::vector<TCompareResult> Checks;
    };
    const TRow Rows[] = {
        {"header, trailer and scan from nothing",
         "HDR 90000000; TDR 80000000; SDR 90000000;",
         260000000,
         -1,
         -1,
         {TCompareResult::Match}},
        {"longest scan, values of a few bytes",
         "SDR 268435456 TDI (A5A5A5A5A5) TDO (00000000) MASK (FFFFFFFF);",
         268435456,
         0,
         31,
         {TCompareResult::Match}},
        {"a compared trailer far into the scan",
         "HDR 100000000 TDI (0) TDO (0) MASK (0); TDR 8 TDI (00) TDO (FF);\nSDR 8 TDI (00);",
         100000016,
         100000008,
         100000015,
         {TCompareResult::Mismatch}},
    };
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        TSVFFile F(WriteTemp("huge.svf", Row.Text));
        std::vector<std::pair<int64_t, bool>> Shifts;
        int64_t TdiOnes = 0, Captured = 0, FirstCaptured = -1, LastCaptured = -1, ReadFrom = 0;
        std::vector<std::string> Messages;
        F.Events.OnMessage = [&](const std::string& T, uint8_t) { Messages.push_back(T); };
        F.Events.OnShift = [&](const uint8_t* Tdi, const uint8_t* Capture, int64_t N, bool Exit) {
            Shifts.emplace_back(N, Exit);
            // Slices are whole bytes but the last, whose spare bits are zero.
            for (int64_t B = 0; B < (N + 7) / 8; ++B) {
                TdiOnes += std::popcount(Tdi[B]);
                Captured += std::popcount(Capture[B]);
            }
        };
        // The device answers 0 on every captured bit.
        F.Events.OnReadCaptured = [&](uint8_t* Tdo, const uint8_t* Capture, int64_t N) {
            for (int64_t B = 0; B < (N + 7) / 8; ++B)
                for (int64_t I = B * 8; Capture[B] != 0 && I < B * 8 + 8; ++I)
                    if ((Capture[B] >> (I & 7)) & 1) {
                        LastCaptured = ReadFrom + I;
                        if (FirstCaptured < 0)
                            FirstCaptured = ReadFrom + I;
                    }
            std::memset(Tdo, 0, static_cast<size_t>((N + 7) / 8));
            ReadFrom += N;
            return true;
        };
        TSVFStepper S(F);
        S.SetCurrentState(tsIDLE);
        std::vector<TCompareResult> Checks;
        TSVFCommand C;
        do {
            S.ParseAndApply(C);
            if (C.Command == cmdSDR || C.Command == cmdSIR) {
                Shifts.clear();
                ReadFrom = 0;
            }
            S.Execute(C);
            if (C.Command == cmdSDR || C.Command == cmdSIR)
                Checks.push_back(S.Check(C));
        } while (!S.End(C));
        EXPECT_EQ(Checks, Row.Checks);
        // The last scan's shifts: full slices without Exit, then the rest with it.
        int64_t Total = 0;
        for (size_t I = 0; I < Shifts.size(); ++I) {
            const bool Last = I + 1 == Shifts.size();
            EXPECT_EQ(Shifts[I].first, Last ? Row.Bits - Total : Slice);
            EXPECT_EQ(Shifts[I].second, Last);
            Total += Shifts[I].first;
        }
        EXPECT_EQ(Total, Row.Bits);
        EXPECT_EQ(TdiOnes, Row.Compared == 0 ? 20 : 0); // A5 A5 A5 A5 A5: 20 ones
        EXPECT_EQ(FirstCaptured, Row.Compared);
        EXPECT_EQ(LastCaptured, Row.LastCompared);
        EXPECT_EQ(Captured, Row.Compared < 0 ? 0 : Row.LastCompared - Row.Compared + 1);
        if (Row.Checks.back() == TCompareResult::Mismatch) {
            // The window of 65536 bits that holds the failing trailer, cut at the scan's end.
            const int64_t From = Row.Compared / Slice * Slice + (Row.Compared % Slice) /
                                                                    TSVFFile::ReportBits *
                                                                    TSVFFile::ReportBits;
            const int64_t To = std::min(From + TSVFFile::ReportBits, Row.Bits);
            std::string Expected = "Expected: ", Readed = "Readed:   ";
            std::vector<uint8_t> CaredBits, NoBits(static_cast<size_t>(To - From), 0);
            for (int64_t B = From; B < To; ++B) {
                const bool Cared = B >= Row.Compared && B <= Row.LastCompared;
                CaredBits.push_back(Cared ? 1 : 0);
                Expected += Cared ? '1' : 'x';
                Readed += Cared ? '0' : 'x';
                if ((B + 1) % 4 == 0) {
                    Expected += ' ';
                    Readed += ' ';
                }
            }
            // Compared as a whole, not printed: the lines are 80 kB long.
            EXPECT_TRUE(
                Messages ==
                (std::vector<std::string>{
                    "Error on SDR instruction: ",
                    "Bits " + std::to_string(From) + " to " + std::to_string(To - 1) + " of " +
                        std::to_string(Row.Bits) + " shown",
                    Expected, Readed, HexExpectedPrefix + SvfHexOfBits(CaredBits.data(), To - From),
                    HexReadPrefix + SvfHexOfBits(NoBits.data(), To - From),
                    HexMaskPrefix + SvfHexOfBits(CaredBits.data(), To - From),
                    "Failing SDR statement near line 2"}));
            ASSERT_GE(Messages.size(), 2u);
            EXPECT_EQ(Messages[1], "Bits " + std::to_string(From) + " to " +
                                       std::to_string(To - 1) + " of " + std::to_string(Row.Bits) +
                                       " shown");
        }
    }
}

} // namespace
