// XSVF files played end to end: player, programmer link and the simulated programmer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim_harness.h"
#include "xsvf_file.h"
#include "xsvf_scan_list.h"
#include "xsvf_test_files.h"

namespace {

std::string ReadText(const std::string& Path) {
    std::ifstream In(Path);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

std::string Description(const std::string& Name) {
    return ReadText(std::string(KORVEX_TEST_DATA) + "/xsvf/" + Name);
}

// Lines of the simulator's trace that start with one of the given words.
std::vector<std::string> TraceLines(const std::string& Trace,
                                    std::initializer_list<const char*> Kinds) {
    std::vector<std::string> R;
    std::istringstream In(Trace);
    for (std::string L; std::getline(In, L);)
        for (const char* K : Kinds)
            if (L.rfind(K, 0) == 0)
                R.push_back(L);
    return R;
}

int Count(const std::vector<std::string>& Lines, const std::string& Prefix) {
    int N = 0;
    for (const auto& L : Lines)
        N += L.rfind(Prefix, 0) == 0;
    return N;
}

// A harness whose waits are plain pauses without margin, so long XRUNTEST values cost the
// simulator little.
struct TSim : TSimHarness {
    explicit TSim(const std::string& Config) : TSimHarness(Config) {
        Link().UpdateOptions([](TRunOptions& O) { O.RTwTime = 0; });
        Link().UpdateOptions([](TRunOptions& O) { O.SecurityTime = 0; });
        Link().ReplyTimeout = std::chrono::milliseconds(2000);
    }
};

// The scripted answers of the XC9500 step in xc9500_program.txt when the device takes the value
// only at attempt Good (never when Good is 0): a wrong answer, the one-bit pass through DRSHIFT of
// the retry path, and so on.
std::string RetryScript(int Good, int Attempts) {
    std::string S = "IR 8 0\n";
    for (int K = 1; K <= Attempts; ++K) {
        if (K == Good) {
            S += "DR 8 5A\n";
            break;
        }
        S += "DR 8 00\nDR 1 0\n";
    }
    // After the last failure the run-test step leaves DRSHIFT, clocking one bit on the way out.
    return S + (Good == 0 ? "DR 1 0\n" : "IR 8 0\n");
}

} // namespace

TEST(XsvfOnSimulator, PipelinedFilePassesAndFailsOnAMismatch) {
    const std::string Text = Description("idcode.txt");
    for (bool Wrong : {false, true}) {
        SCOPED_TRACE(Wrong);
        std::string T = Text;
        if (Wrong)
            T.replace(T.find("0A6B5093"), 8, "0A6B5193");
        TXSVFFile P(MakeXsvf("idcode.xsvf", T));
        TSim H("tap irlen=8 idcode=0x1A6B5093\n"); // another version, masked out by the file
        const TSimRun R = H.Play(P);
        EXPECT_EQ(R.Status, Wrong ? 1 : 2);
        EXPECT_TRUE(R.Lines.empty()) << R.Lines.front();
        const auto Shifts = TraceLines(R.Trace, {"SHIFT", "ERROR"});
        // A mismatch ends the run at once: what the writer queued after the scan is never sent.
        ASSERT_EQ(Shifts.size(), Wrong ? 2u : 3u) << R.Trace;
        EXPECT_EQ(Shifts[0], "SHIFT IR 8 TDI FE TDO 01");
        EXPECT_EQ(Shifts[1], "SHIFT DR 32 TDI 00000000 TDO 1A6B5093");
        if (!Wrong) {
            EXPECT_EQ(Shifts[2], "SHIFT IR 8 TDI FF TDO 01");
        }
    }
}

TEST(XsvfOnSimulator, Xc9500MethodRetriesUntilTheDeviceAnswersRight) {
    const std::string File = MakeXsvf("xc9500.xsvf", Description("xc9500_program.txt"));
    for (int Good : {1, 2, 4}) {
        SCOPED_TRACE(Good);
        TSim H("");
        const std::string Script = H.Folder() + "/tdo.txt";
        std::ofstream(Script) << RetryScript(Good, 4);
        H.Configure("tdo_script " + Script);
        TXSVFFile P(File);
        const TSimRun R = H.Play(P);
        EXPECT_EQ(R.Status, 2);
        std::vector<std::string> Expected{"Warning: Using XC9500 programming method."};
        for (int K = 1; K < Good; ++K)
            Expected.push_back("Retrying: retry #" + std::to_string(K));
        EXPECT_EQ(R.Lines, Expected);

        // On the wire: each failed attempt leaves Shift-DR through DRPAUSE, passes DRSHIFT once
        // more (one clock), updates, waits in IDLE and comes back for the next attempt.
        const auto L = TraceLines(R.Trace, {"SHIFT", "STATE", "WAIT", "ERROR"});
        // The device starts in RESET, so the opening reset shows as clocks there.
        std::vector<std::string> Want{"STATE IDLE", "SHIFT IR 8 TDI EA TDO 00", "STATE IDLE"};
        for (int K = 1; K < Good; ++K) {
            for (const char* S : {"SHIFT DR 8 TDI 5A TDO 00", "STATE DRPAUSE",
                                  "SHIFT DR 1 TDI 0 TDO 0", "STATE IDLE", "WAIT 341"})
                Want.push_back(S);
        }
        for (const char* S : {"SHIFT DR 8 TDI 5A TDO 5A", "STATE IDLE", "WAIT 341",
                              "SHIFT IR 8 TDI FF TDO 00", "STATE IDLE"})
            Want.push_back(S);
        EXPECT_EQ(L, Want) << R.Trace;
    }
}

TEST(XsvfOnSimulator, Xc9500MethodFailsWhenTheDeviceNeverAnswersRight) {
    const std::string Text = Description("xc9500_program.txt");
    TSim H("");
    const std::string Script = H.Folder() + "/tdo.txt";
    std::ofstream(Script) << RetryScript(0, 4);
    H.Configure("tdo_script " + Script);
    TXSVFFile P(MakeXsvf("xc9500_never.xsvf", Text));
    const TSimRun R = H.Play(P);
    EXPECT_EQ(R.Status, 1);
    ASSERT_EQ(R.Lines.size(), 6u);
    EXPECT_EQ(R.Lines[4], "Retrying: retry #4");
    EXPECT_EQ(R.Lines[5], "XSDRTDO operation failed after maximum retries");
    EXPECT_EQ(R.Messages[5].Severity, 2);
    const auto L = TraceLines(R.Trace, {"SHIFT DR"});
    EXPECT_EQ(Count(L, "SHIFT DR 8 TDI 5A TDO 00"), 4);
    // Every failed attempt has its retry path, and the last one reaches the device too: the
    // command's run-test step takes the TAP to IDLE for the XRUNTEST time, passing DRSHIFT once
    // more on the way.
    EXPECT_EQ(Count(L, "SHIFT DR 1 "), 5);
    const auto Tail = TraceLines(R.Trace, {"SHIFT", "STATE", "WAIT"});
    ASSERT_GE(Tail.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(Tail.end() - 6, Tail.end()),
              (std::vector<std::string>{"SHIFT DR 1 TDI 0 TDO 0", "STATE IDLE", "WAIT 341",
                                        "SHIFT DR 1 TDI 0 TDO 0", "STATE IDLE", "WAIT 341"}))
        << R.Trace;
    EXPECT_EQ(TraceLines(R.Trace, {"SHIFT IR 8 TDI FF"}).size(), 0u); // nothing after the failure
}

TEST(XsvfOnSimulator, ScansLongerThanThePendingReplyLimitWorkInBothModes) {
    // 200,000 captured bits make 50,000 reply bytes, more than the programmer holds unread.
    constexpr int Bits = 200000;
    std::string Tdi(Bits / 4, '0'), Tdo(Bits / 4, '0');
    for (size_t I = 0; I < Tdo.size(); ++I) {
        Tdi[I] = "0123456789ABCDEF"[(I * 7) % 16];
        Tdo[I] = "0123456789ABCDEF"[(I * 5 + 3) % 16];
    }
    for (const char* Repeat : {"XREPEAT 0", "XREPEAT 2"}) {
        SCOPED_TRACE(Repeat);
        TSim H("");
        const std::string Script = H.Folder() + "/tdo.txt";
        std::ofstream(Script) << "DR " << Bits << " " << Tdo << "\n";
        H.Configure("tdo_script " + Script);
        TXSVFFile P(MakeXsvf("long_scan.xsvf", std::string(Repeat) + "\nXSDRSIZE " +
                                                   std::to_string(Bits) + "\nXTDOMASK " +
                                                   std::string(Bits / 4, 'F') + "\nXSDRTDO " + Tdi +
                                                   " " + Tdo + "\nXCOMPLETE\n"));
        const TSimRun R = H.Play(P);
        EXPECT_EQ(R.Status, 2);
        EXPECT_EQ(H.SummaryValue("errors"), 0) << R.Trace.substr(0, 2000);
        // The first and the last bit answer alone, the 199,998 between them in groups of four.
        EXPECT_EQ(H.SummaryValue("reply_bytes"), 1 + (Bits - 2 + 3) / 4 + 1);
    }
}

TEST(XsvfOnSimulator, ReadBackThatNeverArrivesFailsTheRunInBothModes) {
    std::string Text = Description("idcode.txt");
    for (const char* Repeat : {"XREPEAT 0", "XREPEAT 2"}) {
        SCOPED_TRACE(Repeat);
        const size_t At = Text.find("XREPEAT");
        Text.replace(At, Text.find('\n', At) - At, Repeat);
        TSim H("reply_delay_ms 600000\n"); // the programmer stops answering
        H.Link().ReplyTimeout = std::chrono::milliseconds(300);
        TXSVFFile P(MakeXsvf("silent.xsvf", Text));
        const auto Begin = std::chrono::steady_clock::now();
        const TSimRun R = H.Play(P, 3000000, std::chrono::seconds(20));
        EXPECT_EQ(R.Status, 1);
        ASSERT_FALSE(R.Lines.empty());
        EXPECT_EQ(R.Lines.back().rfind("Fatal error ", 0), 0u) << R.Lines.back();
        EXPECT_FALSE(R.HasLine("Harness")); // ended by the link's time-out, not by the harness
        EXPECT_LT(std::chrono::steady_clock::now() - Begin, std::chrono::seconds(10));
    }
}

TEST(XsvfOnSimulator, AnUnsupportedOpcodeIsRefusedBeforeAnyByteIsWritten) {
    TSimHarness H("");
    H.Link().ChooseKorvex = [&H] {
        H.Link().SerialNumber = H.Link().ListKorvexSerials().at(0) | 0xA6000000;
        return true;
    };
    ASSERT_TRUE(H.Link().FindKorvex());
    ASSERT_TRUE(H.Link().OpenKorvex()); // as a run opens the programmer before the player exists
    try {
        TXSVFFile P(MakeXsvf("xsetsdrmasks.xsvf", "XSIR 8 FE\nBYTES 0A 00 00\nXCOMPLETE\n"));
        ADD_FAILURE() << "the file was accepted";
    } catch (const std::exception& E) {
        EXPECT_STREQ(E.what(), "Unknown command 0A");
    }
    EXPECT_EQ(H.Link().QueueLength(), 5u); // only the connection's own opening bytes
    H.Link().CloseKorvex();
    EXPECT_EQ(TraceLines(H.TraceText(), {"SHIFT", "STATE"}).size(), 0u);
}

TEST(XsvfOnSimulator, EveryCorpusFilePlaysToTheEndOrIsRefused) {
    int Played = 0, Refused = 0;
    for (const auto& Entry : std::filesystem::directory_iterator(KORVEX_CORPUS)) {
        if (Entry.path().extension() != ".xsvf")
            continue;
        const std::string Path = Entry.path().string();
        SCOPED_TRACE(Path);
        const TXsvfScanList Scans = ListXsvfScans(Path);
        if (Scans.Unsupported >= 0) {
            char Hex[8];
            std::snprintf(Hex, sizeof Hex, "%02X", static_cast<unsigned>(Scans.Unsupported & 0xFF));
            try {
                TXSVFFile P(Path);
                ADD_FAILURE() << "accepted";
            } catch (const std::exception& E) {
                EXPECT_EQ(std::string(E.what()), std::string("Unknown command ") + Hex);
            }
            ++Refused;
            continue;
        }
        ASSERT_TRUE(Scans.Complete);
        TSim H("");
        const std::string Script = H.Folder() + "/tdo.txt";
        std::ofstream(Script) << XsvfTdoScript(Scans.Scans);
        H.Configure("tdo_script " + Script);
        TXSVFFile P(Path);
        EXPECT_EQ(P.ProgressMax(), Scans.Commands);
        const TSimRun R = H.Play(P);
        EXPECT_EQ(R.Status, 2);
        EXPECT_EQ(H.SummaryValue("errors"), 0);
        EXPECT_EQ(static_cast<int>(TraceLines(R.Trace, {"SHIFT"}).size()),
                  static_cast<int>(Scans.Scans.size()));
        for (const auto& Line : R.Lines)
            EXPECT_EQ(Line, "Warning: Using XC9500 programming method.");
        ++Played;
    }
    EXPECT_GT(Played, 0);
    EXPECT_GT(Refused, 0);
    std::printf("corpus: %d played, %d refused\n", Played, Refused);
}
