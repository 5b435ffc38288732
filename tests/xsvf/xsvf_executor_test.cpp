// Execution of XSVF files on the worker thread, against a recording of the events.
#include <gtest/gtest.h>

#include <algorithm>

#include "event_recorder.h"
#include "xsvf_file.h"
#include "xsvf_test_files.h"

namespace {

struct TOutcome {
    int Status;
    int64_t Progress, ProgressMax;
};

TOutcome Play(const std::string& Description, TEventRecorder& R) {
    static int Serial = 0;
    TXSVFFile P(MakeXsvf("run" + std::to_string(++Serial) + ".xsvf", Description));
    R.Assign(P);
    P.Start(3000000);
    WaitForEnd(P);
    return {P.Status(), P.Progress(), P.ProgressMax()};
} // the player is freed here, which joins its worker before the recording is read

// Bits 0..Count-1 of a hex value.
std::vector<uint8_t> Bits(uint64_t Value, int Count) {
    std::vector<uint8_t> B(Count);
    for (int I = 0; I < Count; ++I)
        B[I] = (Value >> I) & 1;
    return B;
}

// A device answering Answers[k] to the k-th read-back (the last one repeated).
std::function<std::vector<uint8_t>(int, const std::vector<uint8_t>&)>
Answering(std::vector<uint64_t> Answers) {
    return [Answers](int K, const std::vector<uint8_t>& Tdi) {
        return Bits(Answers[std::min<size_t>(K, Answers.size() - 1)], static_cast<int>(Tdi.size()));
    };
}

int Count(const std::vector<std::string>& V, const std::string& S) {
    return static_cast<int>(std::count(V.begin(), V.end(), S));
}

} // namespace

TEST(XsvfRun, AFileOfOnlyXcompleteResetsFlushesAndSucceeds) {
    TEventRecorder R;
    const auto O = Play("XCOMPLETE", R);
    EXPECT_EQ(O.Status, 2);
    EXPECT_EQ(O.Progress, 1);
    EXPECT_EQ(O.ProgressMax, 1);
    ASSERT_GE(R.Trace.size(), 7u);
    EXPECT_EQ(
        std::vector<std::string>(R.Trace.begin(), R.Trace.begin() + 7),
        (std::vector<std::string>{"RESET", "RESET", "RESET", "RESET", "RESET", "RESET", "FLUSH"}));
    EXPECT_EQ(R.AfterReset(), "");
}

TEST(XsvfRun, WriterWalksAndShiftsAsEachCommandAsks) {
    struct TCase {
        const char* Name;
        const char* Description;
        const char* Trace;
    } Cases[] = {
        {"XSDRB/XSDRC/XSDRE form one scan", "XSDRSIZE 8\nXSDRB 01\nXSDRC 02\nXSDRE 03\nXCOMPLETE",
         "IDLE DRSELECT DRCAPTURE DRSHIFT SHIFT8 SHIFT8 SHIFT8E DRUPDATE IDLE"},
        {"XSDRTDOB/C/E form one scan and end in EndDR",
         "XENDDR 1\nXSDRSIZE 4\nXSDRTDOB 1 0\nXSDRTDOC 2 0\nXSDRTDOE 3 0\nXCOMPLETE",
         "IDLE DRSELECT DRCAPTURE DRSHIFT SHIFT4 SHIFT4 SHIFT4E DRPAUSE"},
        {"XRUNTEST holds for every later XSDR and XSIR until the next XRUNTEST",
         "XENDDR DRPAUSE\nXSDRSIZE 8\nXRUNTEST 1000\nXSDR 00\nXSDR 00\nXSIR 8 FF\n"
         "XRUNTEST 0\nXSDR 00\nXCOMPLETE",
         "IDLE DRSELECT DRCAPTURE DRSHIFT SHIFT8E DRUPDATE IDLE WAIT1000 DRSELECT DRCAPTURE "
         "DRSHIFT SHIFT8E DRUPDATE IDLE WAIT1000 DRSELECT IRSELECT IRCAPTURE IRSHIFT SHIFT8E "
         "IRUPDATE IDLE WAIT1000 DRSELECT DRCAPTURE DRSHIFT SHIFT8E DRPAUSE"},
        {"XENDDR 1 with a wait still ends in IDLE",
         "XENDDR 1\nXRUNTEST 7\nXSDRSIZE 8\nXSDR 00\nXCOMPLETE",
         "IDLE DRSELECT DRCAPTURE DRSHIFT SHIFT8E DRUPDATE IDLE WAIT7"},
        {"from DRPAUSE the next XSDR goes back to DRSHIFT through DREXIT2",
         "XENDDR 1\nXSDRSIZE 8\nXSDR 00\nXSDR 00\nXCOMPLETE",
         "IDLE DRSELECT DRCAPTURE DRSHIFT SHIFT8E DRPAUSE DREXIT2 DRSHIFT SHIFT8E DRPAUSE"},
        {"XENDIR 1 ends every later XSIR in IRPAUSE", "XENDIR 1\nXSIR 9 1FE\nXCOMPLETE",
         "IDLE DRSELECT IRSELECT IRCAPTURE IRSHIFT SHIFT9E IRPAUSE"},
        {"XSTATE 0 resets", "XSTATE 1\nXSTATE 0\nXCOMPLETE",
         "IDLE DRSELECT IRSELECT RESET RESET RESET RESET"},
        {"XSTATE 6 means IDLE, not DRPAUSE", "XSTATE 6\nXCOMPLETE", "IDLE"},
        {"XSTATE 15 means IDLE", "XSTATE 1\nXSTATE 15\nXCOMPLETE", "IDLE"},
        // A zero-length IR scan clocks nothing: the TAP is still in IRSHIFT and leaves from there.
        {"XSIR of length 0 keeps the walk in step with the device",
         "XSIR 0 0\nXSDRSIZE 8\nXSDR 01\nXCOMPLETE",
         "IDLE DRSELECT IRSELECT IRCAPTURE IRSHIFT IREXIT1 IRUPDATE IDLE DRSELECT DRCAPTURE "
         "DRSHIFT SHIFT8E DRUPDATE IDLE"},
    };
    for (const auto& K : Cases) {
        SCOPED_TRACE(K.Name);
        TEventRecorder R;
        EXPECT_EQ(Play(K.Description, R).Status, 2);
        EXPECT_EQ(R.AfterReset(), K.Trace);
        EXPECT_TRUE(R.Faults.empty()) << R.Faults.front();
    }
}

TEST(XsvfRun, ScanValuesGoOutBitZeroFirst) {
    TEventRecorder R;
    EXPECT_EQ(Play("XSIR 9 1FE\nXSDRSIZE 12\nXSDRB 123\nXSDRE ABC\nXCOMPLETE", R).Status, 2);
    ASSERT_EQ(R.ShiftedTdi.size(), 3u);
    EXPECT_EQ(R.ShiftedTdi[0], Bits(0x1FE, 9));
    EXPECT_EQ(R.ShiftedTdi[1], Bits(0x123, 12));
    EXPECT_EQ(R.ShiftedTdi[2], Bits(0xABC, 12));
}

TEST(XsvfRun, PipelinedReadBackIsComparedUnderTheMask) {
    const char* Masked = "XSDRSIZE 16\nXTDOMASK 00FF\nXSDRTDO 1234 00A5\nXSDR 0000\nXCOMPLETE";
    // XSDRTDOB/E capture and compare every bit, whatever the mask says.
    const char* Full = "XSDRSIZE 8\nXTDOMASK 00\nXSDRTDOB 00 5A\nXSDRTDOE 00 00\nXCOMPLETE";
    struct TCase {
        const char* Description;
        std::vector<uint64_t> Answers;
        int Status;
    } Cases[] = {
        {Masked, {0x00A5, 0x00A5}, 2},
        {Masked, {0xFFA5, 0x12A5}, 2}, // the high byte is masked out
        {Masked, {0x00A4, 0x00A5}, 1},
        {Masked, {0x00A5, 0x0025}, 1}, // XSDR compares with the last
                                       // expected value
        {Full, {0x5A, 0x00}, 2},
        {Full, {0x5B, 0x00}, 1},
        {Full, {0x5A, 0x80}, 1},
    };
    for (const auto& K : Cases) {
        SCOPED_TRACE(testing::Message()
                     << K.Description << " answers " << K.Answers[0] << "," << K.Answers[1]);
        TEventRecorder R;
        R.Tdo = Answering(K.Answers);
        const auto O = Play(K.Description, R);
        EXPECT_EQ(O.Status, K.Status);
        EXPECT_EQ(O.Progress == O.ProgressMax, K.Status == 2);
        EXPECT_TRUE(R.Faults.empty()) << R.Faults.front();
        // A pipelined run never flushes before the end: the writer does not wait for the reader.
        EXPECT_EQ(R.AfterReset().find("FLUSH"), std::string::npos);
    }
}

TEST(XsvfRun, PipelinedReadBackArrivingLateIsCollectedInShiftOrder) {
    std::string File = "XSDRSIZE 16\nXTDOMASK FFFF\n";
    std::vector<uint64_t> Answers;
    for (int I = 0; I < 20; ++I) {
        char Line[64];
        std::snprintf(Line, sizeof Line, "XSDRTDO %04X %04X\nXSDRSIZE 16\n", I, 0x1111 * (I % 15));
        File += Line;
        Answers.push_back(0x1111 * (I % 15));
    }
    File += "XCOMPLETE\n";
    for (bool Fails : {false, true}) {
        SCOPED_TRACE(Fails);
        TEventRecorder R;
        R.LateBy = 6;
        auto A = Answers;
        if (Fails)
            A[13] ^= 0x0100;
        R.Tdo = Answering(A);
        const auto O = Play(File, R);
        EXPECT_EQ(O.Status, Fails ? 1 : 2);
        EXPECT_TRUE(R.Faults.empty()) << R.Faults.front();
        EXPECT_GE(R.ReadCalls, Fails ? 14 * 7 : 20 * 7);
        if (!Fails) {
            EXPECT_EQ(O.Progress, O.ProgressMax);
        }
    }
}

TEST(XsvfRun, XrepeatAtTheEndPutsTheWholeFileUnderTheXc9500Method) {
    TEventRecorder R;
    R.Tdo = Answering({0x5A});
    const auto O = Play("XSDRSIZE 8\nXTDOMASK FF\nXSDRTDO 00 5A\nXSDRTDO 00 5A\nXREPEAT 2\n"
                        "XCOMPLETE",
                        R);
    EXPECT_EQ(O.Status, 2);
    EXPECT_EQ(O.Progress, O.ProgressMax);
    // Each shift is flushed and its read-back awaited before the walk goes on.
    EXPECT_EQ(R.AfterReset(),
              "IDLE DRSELECT DRCAPTURE DRSHIFT SHIFT8E FLUSH DRUPDATE IDLE DRSELECT "
              "DRCAPTURE DRSHIFT SHIFT8E FLUSH DRUPDATE IDLE");
    EXPECT_EQ(R.MessageTexts(),
              std::vector<std::string>{"Warning: Using XC9500 programming method."});
    EXPECT_EQ(R.Messages[0].second, 3);
}

TEST(XsvfRun, Xc9500RetriesThroughThePauseStates) {
    TEventRecorder R;
    R.Tdo = Answering({0x00, 0x00, 0x5A});
    const auto O =
        Play("XREPEAT 3\nXRUNTEST 50\nXSDRSIZE 8\nXTDOMASK FF\nXSDRTDO 00 5A\nXCOMPLETE", R);
    EXPECT_EQ(O.Status, 2);
    const std::string Attempt = "SHIFT8E FLUSH ";
    const std::string Retry =
        "DRPAUSE DREXIT2 DRSHIFT DREXIT1 DRUPDATE IDLE WAIT50 DRSELECT DRCAPTURE DRSHIFT ";
    EXPECT_EQ(R.AfterReset(), "IDLE DRSELECT DRCAPTURE DRSHIFT " + Attempt + Retry + Attempt +
                                  Retry + Attempt + "DRUPDATE IDLE WAIT50");
    EXPECT_EQ(R.MessageTexts(),
              (std::vector<std::string>{"Warning: Using XC9500 programming method.",
                                        "Retrying: retry #1", "Retrying: retry #2"}));
    EXPECT_TRUE(R.Faults.empty()) << R.Faults.front();
}

TEST(XsvfRun, Xc9500GivesUpAfterTheRepeatCount) {
    // After the last failed attempt comes its retry path (if any), then the run-test step.
    const std::string AfterRetry = "IDLE WAIT0 DRSELECT DRCAPTURE DRSHIFT DREXIT1 DRUPDATE IDLE";
    struct TCase {
        const char* LastRepeat;
        const char* Command;
        int Attempts;
        std::string TraceEnd;
        std::vector<std::string> Messages;
    } Cases[] = {
        {"XREPEAT 0",
         "XSDR 00",
         1,
         "SHIFT8E FLUSH DRUPDATE IDLE",
         {"XSDR operation failed after maximum retries"}},
        {"XREPEAT 1",
         "XSDR 00",
         1,
         AfterRetry,
         {"Retrying: retry #1", "XSDR operation failed after maximum retries"}},
        {"XREPEAT 2",
         "XSDRTDO 00 5A",
         2,
         AfterRetry,
         {"Retrying: retry #1", "Retrying: retry #2",
          "XSDRTDO operation failed after maximum retries"}},
    };
    for (const auto& K : Cases) {
        SCOPED_TRACE(K.Command);
        TEventRecorder R;
        R.Tdo = Answering({0x5A, 0x00}); // right once, then never again
        const auto O = Play(std::string("XREPEAT 2\nXSDRSIZE 8\nXTDOMASK FF\nXSDRTDO 00 5A\n") +
                                K.LastRepeat + "\n" + K.Command + "\nXSDR 00\nXCOMPLETE",
                            R);
        EXPECT_EQ(O.Status, 1);
        EXPECT_LT(O.Progress, O.ProgressMax);
        auto Expected = K.Messages;
        Expected.insert(Expected.begin(), "Warning: Using XC9500 programming method.");
        EXPECT_EQ(R.MessageTexts(), Expected);
        EXPECT_EQ(R.Messages.back().second, 2);
        const std::string T = R.AfterReset();
        ASSERT_GE(T.size(), K.TraceEnd.size());
        EXPECT_EQ(T.substr(T.size() - K.TraceEnd.size()), K.TraceEnd);
        // The opening flush, one per attempt, one that sends the failed command's last steps, and
        // none for the XSDR the run never reached.
        EXPECT_EQ(Count(R.Trace, "FLUSH"), 3 + K.Attempts);
        EXPECT_EQ(R.Trace.back(), "FLUSH");
    }
}

TEST(XsvfRun, Xc9500RefusesTheChainedCompareCommands) {
    const std::pair<const char*, const char*> Cases[] = {
        {"XSDRTDOB 00 00", "Fatal error Internal error DoCommandReadWrite [3]"},
        {"XSDRTDOC 00 00", "Fatal error Internal error DoCommandReadWrite [4]"},
        {"XSDRTDOE 00 00", "Fatal error Internal error DoCommandReadWrite [5]"},
    };
    for (const auto& [Command, Message] : Cases) {
        SCOPED_TRACE(Command);
        TEventRecorder R;
        EXPECT_EQ(Play(std::string("XREPEAT 2\nXSDRSIZE 8\n") + Command + "\nXCOMPLETE", R).Status,
                  1);
        EXPECT_EQ(R.MessageTexts().back(), Message);
        EXPECT_EQ(R.Messages.back().second, 2);
    }
}

TEST(XsvfRun, ReadBackThatNeverArrivesFailsTheRunInBothModes) {
    for (const char* Repeat : {"XREPEAT 0", "XREPEAT 2"}) {
        SCOPED_TRACE(Repeat);
        TEventRecorder R;
        R.LateBy = 3;
        R.ReadBackError = "No reply from the programmer";
        const auto O = Play(std::string(Repeat) + "\nXSDRSIZE 8\nXTDOMASK FF\nXSDRTDO 00 00\n"
                                                  "XCOMPLETE",
                            R);
        EXPECT_EQ(O.Status, 1);
        EXPECT_EQ(R.MessageTexts().back(), "Fatal error No reply from the programmer");
    }
}
