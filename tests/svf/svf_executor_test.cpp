#include <gtest/gtest.h>

#include "line_exception.h"
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
          "Failing SIR statement near line 2"}},
        {"mismatch beyond the first byte",
         "SDR 12 TDI (000) TDO (800);",
         {"000000000000"},
         {TCompareResult::Mismatch},
         {"Error on SDR instruction: ", "Expected: 0000 0000 0001 ", "Readed:   0000 0000 0000 ",
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

} // namespace
