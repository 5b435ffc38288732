#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "jtag_files_list.h"
#include "svf_hex.h"
#include "svf_test_util.h"

namespace {

void WaitEnd(const TJtagFile& P) {
    for (int I = 0; I < 10000 && P.Status() == 0; ++I)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct TRun {
    TEventLog Log;
    int Status = 0;
    int64_t Progress = 0, ProgressMax = 0;

    TRun(const std::string& Text, std::deque<std::string> Answers, int LatePolls = 0,
         bool Echo = true) {
        Log.Answers = std::move(Answers);
        Log.LatePolls = LatePolls;
        TSVFFile P(WriteTemp("pipe.svf", Text));
        Log.Attach(P);
        P.EchoComments = Echo;
        EXPECT_EQ(P.Progress(), 0);
        P.Start(1000000);
        WaitEnd(P);
        Status = P.Status();
        Progress = P.Progress();
        ProgressMax = P.ProgressMax();
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> T;
        for (const auto& M : Log.Messages)
            T.push_back(M.first);
        return T;
    }
};

const char* const Program = "! program and verify\n"
                            "SIR 8 TDI (02) TDO (01) MASK (03);\n"
                            "SDR 16 TDI (1234);\n"
                            "SDR 16 TDI (0000) TDO (1234);\n"
                            "RUNTEST 10 TCK;\n"
                            "SDR 16 TDI (0000) TDO (00FF) MASK (00F0);\n";

// The same file with read-back on time and read-back late by several cycles: the comparison
// result and the device traffic are the same.
TEST(SvfPipeline, LateReadBackGivesTheSameResult) {
    // No answer for the scan without TDO: it captures nothing, and nothing is asked for it.
    const std::deque<std::string> Good = {"10000000", "0010110001001000", "0000111100000000"};
    for (int Late : {0, 1, 5}) {
        TRun R(Program, Good, Late);
        EXPECT_EQ(R.Status, 2) << Late;
        EXPECT_EQ(R.Texts(), std::vector<std::string>{"! program and verify"}) << Late;
        EXPECT_EQ(R.Progress, R.ProgressMax + 6) << Late;
        EXPECT_EQ(R.Log.Tms.substr(0, 6), "111111") << Late; // the reset walk
        EXPECT_EQ(R.Log.Without({"TMS", "FLUSH", "READ"}).size(), 6u)
            << Late; // 4 shifts, run, freq
    }
    std::deque<std::string> Bad = Good;
    Bad[1] = "0010110001001001"; // bit 15 wrong
    for (int Late : {0, 5}) {
        TRun R(Program, Bad, Late);
        EXPECT_EQ(R.Status, 1) << Late;
        const std::vector<std::string> Want = {
            "! program and verify",           "Error on SDR instruction: ",
            "Expected: 0010 1100 0100 1000 ", "Readed:   0010 1100 0100 1001 ",
            "Expected (hex): 1234",           "Read     (hex): 9234",
            "Mask     (hex): FFFF",           "Failing SDR statement near line 4"};
        EXPECT_EQ(R.Texts(), Want) << Late;
    }
}

TEST(SvfPipeline, CommentsAreEchoedOnceOrNotAtAll) {
    const char* Text = "// one\n! two\nSTATE RESET;\n";
    EXPECT_EQ(TRun(Text, {}).Texts(), (std::vector<std::string>{"// one", "! two"}));
    TRun Quiet(Text, {}, 0, false);
    EXPECT_TRUE(Quiet.Texts().empty());
    EXPECT_EQ(Quiet.Status, 2);
}

TEST(SvfPipeline, ParseErrorNamesTheLine) {
    TRun R("STATE RESET;\r\nSDR 8 TDI (00) TDO (00);\r\nBOGUS 1;\r\nSDR 8 TDI (00);\r\n",
           {"00000000"}, 3);
    EXPECT_EQ(R.Status, 1);
    ASSERT_FALSE(R.Log.Messages.empty());
    EXPECT_EQ(R.Log.Messages.back().first,
              "Fatal error Unknown SVF command BOGUS near line 3\r\n\"BOGUS 1;\"");
    EXPECT_EQ(R.Log.Messages.back().second, sevError);
    // Nothing after the bad statement reached the device.
    EXPECT_EQ(R.Log.Without({"TMS", "FLUSH", "READ", "FREQ"}).size(), 1u);
}

TEST(SvfPipeline, ConversionErrorHasNoLine) {
    TRun R("RUNTEST 1,5 SEC;", {});
    EXPECT_EQ(R.Status, 1);
    EXPECT_EQ(R.Texts(),
              std::vector<std::string>{"Fatal error '1,5' is not a valid floating point value"});
}

// FREQUENCY switches the link's mode, which changes how many replies a pending scan has: the
// reader copy must have collected every earlier scan before the writer copy changes it.
TEST(SvfPipeline, FrequencyWaitsForPendingReadBack) {
    const char* Text = "SDR 8 TDI (00) TDO (00);\n"
                       "SDR 8 TDI (00) TDO (00);\n"
                       "FREQUENCY 1E5 HZ;\n"
                       "SDR 8 TDI (00) TDO (00);\n"
                       "FREQUENCY;\n";
    TRun R(Text, {"00000000", "00000000", "00000000"}, 4);
    EXPECT_EQ(R.Status, 2);
    EXPECT_FALSE(R.Log.FrequencyUnderPending);
    const std::vector<std::string> Want = {"FREQ 1000000 1",
                                           "SHIFT 8 00000000 11111111 exit",
                                           "SHIFT 8 00000000 11111111 exit",
                                           "READ 8",
                                           "READ 8",
                                           "FREQ 100000 0",
                                           "FREQ 100000 1",
                                           "SHIFT 8 00000000 11111111 exit",
                                           "READ 8",
                                           "FREQ 1000000 0",
                                           "FREQ 1000000 1"};
    EXPECT_EQ(R.Log.Without({"TMS", "FLUSH"}), Want);
}

TEST(SvfPipeline, OnlyCommentsAndTheEnd) {
    TRun R("! nothing to do\n", {});
    EXPECT_EQ(R.Status, 2);
    EXPECT_EQ(R.Log.Tms, "111111");
    EXPECT_EQ(R.Progress, R.ProgressMax + 6);
}

TEST(SvfPipeline, CancelStopsARunWaitingForReadBack) {
    TEventLog Log;
    Log.LatePolls = 1 << 30; // the read-back never comes
    TSVFFile P(WriteTemp("cancel.svf", "SDR 8 TDI (00) TDO (00);\nSTATE IDLE;\n"));
    Log.Attach(P);
    P.Start(1000000);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(P.Status(), 0);
    P.RequestTerminate();
    WaitEnd(P);
    EXPECT_EQ(P.Status(), 1);
    ASSERT_FALSE(Log.Messages.empty());
    EXPECT_EQ(Log.Messages.back().first, "File processing cancelled");
}

// Letting go of a player whose run waits for read-back that never comes does not hang.
TEST(SvfPipeline, FreeingARunningPlayerReturns) {
    TEventLog Log;
    Log.LatePolls = 1 << 30;
    auto P = std::make_unique<TSVFFile>(WriteTemp("free.svf", "SDR 8 TDI (00) TDO (00);\n"));
    Log.Attach(*P);
    P->Start(1000000);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(P->Status(), 0);
    P.reset();
}

// A copy that cannot be built makes Start fail at once; the player is still freed promptly.
TEST(SvfPipeline, StartFailsCleanlyWhenTheFileIsGone) {
    const std::string Path = WriteTemp("gone.svf", "STATE RESET;");
    auto P = std::make_unique<TSVFFile>(Path);
    if (std::remove(Path.c_str()) != 0)
        GTEST_SKIP() << "an open file cannot be deleted here (Windows)";
    EXPECT_THROW(P->Start(1000000), std::runtime_error);
    EXPECT_EQ(P->Status(), 0);
    P.reset();
}

TEST(SvfPipeline, Registration) {
    RegisterSVFFile();
    RegisterSVFFile();
    int Count = 0;
    for (const auto& R : TJtagFilesList::Global().Records())
        Count += R.TypeName == "SVF";
    EXPECT_EQ(Count, 1);
    auto P = TJtagFilesList::Global().CreateForFile(".Svf", WriteTemp("reg.svf", "STATE RESET;"));
    ASSERT_NE(P, nullptr);
    EXPECT_EQ(P->GetFileType(), "SVF");
    EXPECT_EQ(P->ProgressMax(), 12);
}

} // namespace

// A scan longer than one slice is checked while it goes out: the read-back of each slice is
// collected before the next slice is shifted, so it never piles up in the link. A failing bit is
// found in either slice and reported once.
TEST(SvfPipeline, LongScansAreCheckedSliceBySlice) {
    const int64_t Slice = TSVFFile::SliceBits;
    const std::string S = std::to_string(Slice);
    const struct {
        const char* Name;
        int FailingRead; // 0: none
        std::vector<std::string> Calls;
        int64_t ShownFrom;
    } Rows[] = {
        {"match", 0, {"S" + S, "R" + S, "S" + S + "E", "R" + S}, 0},
        {"mismatch in the first slice",
         1,
         {"S" + S, "R" + S, "S" + S + "E"},
         Slice - TSVFFile::ReportBits},
        {"mismatch in the second slice",
         2,
         {"S" + S, "R" + S, "S" + S + "E", "R" + S},
         2 * Slice - TSVFFile::ReportBits},
    };
    for (const auto& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        TSVFFile P(WriteTemp("slices.svf", "SDR " + std::to_string(2 * Slice) + " TDO (0);"));
        std::mutex M;
        std::vector<std::string> Calls;
        std::vector<std::string> Messages;
        P.Events.OnMessage = [&](const std::string& T, uint8_t) {
            std::lock_guard<std::mutex> L(M);
            Messages.push_back(T);
        };
        P.Events.OnShift = [&](const uint8_t*, const uint8_t*, int64_t N, bool Exit) {
            Calls.push_back("S" + std::to_string(N) + (Exit ? "E" : ""));
        };
        int Reads = 0;
        P.Events.OnReadCaptured = [&](uint8_t* Tdo, const uint8_t*, int64_t N) {
            Calls.push_back("R" + std::to_string(N));
            std::memset(Tdo, 0, static_cast<size_t>((N + 7) / 8));
            if (++Reads == Row.FailingRead)
                Tdo[N / 8 - 1] = 0x80; // the slice's last bit
            return true;
        };
        P.Start(1000000);
        WaitEnd(P);
        EXPECT_EQ(P.Status(), Row.FailingRead ? 1 : 2);
        EXPECT_EQ(Calls, Row.Calls);
        if (Row.FailingRead) {
            // Report, window, expected, read, the three hex lines and the failing statement.
            ASSERT_EQ(Messages.size(), 8u);
            EXPECT_EQ(Messages[1], "Bits " + std::to_string(Row.ShownFrom) + " to " +
                                       std::to_string(Row.ShownFrom + TSVFFile::ReportBits - 1) +
                                       " of " + std::to_string(2 * Slice) + " shown");
        }
    }
}

// The reader copy compares with the values the writer hands over, never reading the file itself:
// the expected bits and the mask it reports for the first failing scan are those the file says,
// with what carries over from earlier statements (MASK while the length stays, header and trailer
// values) and what does not (TDO, MASK after a length change). Read-back is all zeros unless a
// row answers otherwise; uncompared bits are 0 in both lines.
TEST(SvfPipeline, ReaderComparesWhatTheFileSays) {
    struct TRow {
        const char* Name;
        const char* Text;
        std::deque<std::string> Answers;
        const char* Failing; // "" when the file passes
        const char* Expected;
        const char* Mask;
    };
    const std::vector<TRow> Rows = {
        {"MASK carried over while the length stays",
         "SDR 8 TDI (00) TDO (00) MASK (0F);\nSDR 8 TDI (00) TDO (FF);\n",
         {},
         "Failing SDR statement near line 2",
         "0F",
         "0F"},
        {"MASK all ones after a length change",
         "SDR 8 TDI (00) TDO (00) MASK (0F);\nSDR 12 TDI (000) TDO (FFF);\n",
         {},
         "Failing SDR statement near line 2",
         "FFF",
         "FFF"},
        {"TDO not carried over: a scan without one compares nothing",
         "SDR 8 TDI (00) TDO (FF) MASK (00);\nSDR 8 TDI (00);\nSDR 4 TDI (0) TDO (1);\n",
         {},
         "Failing SDR statement near line 3",
         "1",
         "F"},
        {"DR header and trailer around the scan",
         "HDR 2 TDI (0);\nTDR 3 TDI (0) TDO (5) MASK (7);\nSDR 4 TDI (0) TDO (A);\n",
         {},
         "Failing SDR statement near line 3",
         "168",
         "1FC"},
        {"IR header with a mask, trailer without TDO",
         "HIR 3 TDI (7) TDO (7) MASK (5);\nTIR 1 TDI (1);\nSIR 4 TDI (0) TDO (F) MASK (9);\n",
         {},
         "Failing SIR statement near line 3",
         "4D",
         "4D"},
        {"a header's TDO holds for every later scan",
         "HDR 2 TDI (0) TDO (3);\nSDR 2 TDI (0) TDO (0);\n\nSDR 2 TDI (0) TDO (0);\n",
         {"1100", ""},
         "Failing SDR statement near line 4",
         "3",
         "F"},
        {"wrapped values over lines, lower case",
         "sdr 16 tdi (0000)\n tdo (00\n ff) mask (0f\n0f);\n",
         {},
         "Failing SDR statement near line 4",
         "000F",
         "0F0F"},
        {"matching read-back passes", "SIR 4 TDI (0) TDO (5) MASK (7);\n", {"1010"}, "", "", ""},
    };
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        TRun R(Row.Text, Row.Answers);
        const auto Texts = R.Texts();
        auto Has = [&](const std::string& T) {
            return std::find(Texts.begin(), Texts.end(), T) != Texts.end();
        };
        if (*Row.Failing == 0) {
            EXPECT_EQ(R.Status, 2) << ::testing::PrintToString(Texts);
            continue;
        }
        EXPECT_EQ(R.Status, 1);
        EXPECT_TRUE(Has(Row.Failing)) << ::testing::PrintToString(Texts);
        EXPECT_TRUE(Has(std::string(HexExpectedPrefix) + Row.Expected))
            << ::testing::PrintToString(Texts);
        EXPECT_TRUE(Has(std::string(HexMaskPrefix) + Row.Mask)) << ::testing::PrintToString(Texts);
    }
}

// The reader compares a scan too long to copy under the writer's own mask: each scan still under
// its own MASK when the next statement brings another (the read-back has its last bit set, which
// only the all-ones mask compares).
TEST(SvfPipeline, LongScansCompareUnderTheirOwnMask) {
    const int64_t N = (int64_t{1} << 20) + 8;
    const auto Digits = static_cast<size_t>(N / 4);
    const std::string Zeros(Digits, '0');
    const std::string Open = "7" + std::string(Digits - 1, 'F'), All(Digits, 'F');
    auto Scan = [&](const std::string& Mask) {
        return "SDR " + std::to_string(N) + " TDI (0) TDO (" + Zeros + ") MASK (" + Mask + ");\n";
    };
    const struct {
        std::string Text;
        const char* Failing;
    } Rows[] = {{Scan(Open) + Scan(All), "Failing SDR statement near line 2"},
                {Scan(All) + Scan(Open), "Failing SDR statement near line 1"},
                {Scan(Open) + Scan(Open), ""}};
    for (const auto& Row : Rows) {
        TSVFFile P(WriteTemp("shared-mask.svf", Row.Text));
        std::mutex M;
        std::vector<std::string> Errors;
        P.Events.OnMessage = [&](const std::string& T, uint8_t Severity) {
            std::lock_guard<std::mutex> L(M);
            if (Severity == sevError && T.rfind("Failing", 0) == 0)
                Errors.push_back(T);
        };
        P.Events.OnShift = [](const uint8_t*, const uint8_t*, int64_t, bool) {};
        P.Events.OnReadCaptured = [&](uint8_t* Tdo, const uint8_t*, int64_t Count) {
            std::memset(Tdo, 0, static_cast<size_t>((Count + 7) / 8));
            Tdo[(Count - 1) / 8] |= static_cast<uint8_t>(1u << ((Count - 1) % 8));
            return true;
        };
        P.Start(1000000);
        WaitEnd(P);
        EXPECT_EQ(P.Status(), *Row.Failing ? 1 : 2) << Row.Failing;
        EXPECT_EQ(Errors, *Row.Failing ? std::vector<std::string>{Row.Failing}
                                       : std::vector<std::string>{});
    }
}
