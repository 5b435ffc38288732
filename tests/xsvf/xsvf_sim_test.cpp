// XSVF files played end to end: player, programmer link and the simulated programmer.
#include <gtest/gtest.h>

#include <algorithm>
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
        // A mismatch names the command and its values; the version bits are masked out.
        const std::vector<std::string> Report = {
            "Failing XSVF command #7 XSDRTDO", "Expected (hex): 0A6B5193",
            "Read     (hex): 0A6B5093", "Mask     (hex): 0FFFFFFF"};
        EXPECT_EQ(R.Lines, Wrong ? Report : std::vector<std::string>{});
        const auto Shifts = TraceLines(R.Trace, {"SHIFT", "ERROR"});
        // The writer runs ahead of the comparison by up to a queue of commands (here the last
        // XSIR, written with XCOMPLETE's flush), as on a real programmer, where the read-back
        // comes a USB round trip later: the mismatch ends the run, not the writes before it.
        ASSERT_EQ(Shifts.size(), 3u) << R.Trace;
        EXPECT_EQ(Shifts[0], "SHIFT IR 8 TDI FE TDO 01");
        EXPECT_EQ(Shifts[1], "SHIFT DR 32 TDI 00000000 TDO 1A6B5093");
        EXPECT_EQ(Shifts[2], "SHIFT IR 8 TDI FF TDO 01");
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
        // XRUNTEST stays in force: the XSIR after the step waits as well.
        for (const char* S : {"SHIFT DR 8 TDI 5A TDO 5A", "STATE IDLE", "WAIT 341",
                              "SHIFT IR 8 TDI FF TDO 00", "STATE IDLE", "WAIT 341"})
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
    ASSERT_EQ(R.Lines.size(), 10u);
    EXPECT_EQ(R.Lines[4], "Retrying: retry #4");
    EXPECT_EQ(R.Lines[5], "XSDRTDO operation failed after maximum retries");
    EXPECT_EQ(R.Lines[6].rfind("Failing XSVF command #", 0), 0u) << R.Lines[6];
    EXPECT_EQ(R.Lines[8], "Read     (hex): 00");
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
        const TSimRun R = H.Play(P, 3000000, std::chrono::seconds(20));
        EXPECT_EQ(R.Status, 1);
        ASSERT_FALSE(R.Lines.empty());
        EXPECT_EQ(R.Lines.back().rfind("Fatal error ", 0), 0u) << R.Lines.back();
        EXPECT_FALSE(R.HasLine("Harness")); // ended by the link's time-out, not by the harness
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
        TXSVFFile P(MakeXsvf("unknown.xsvf", "XSIR 8 FE\nBYTES 1D 00 00\nXCOMPLETE\n"));
        ADD_FAILURE() << "the file was accepted";
    } catch (const std::exception& E) {
        EXPECT_STREQ(E.what(), "Unknown command 1D");
    }
    EXPECT_EQ(H.Link().QueueLength(), 5u); // only the connection's own opening bytes
    H.Link().CloseKorvex();
    EXPECT_EQ(TraceLines(H.TraceText(), {"SHIFT", "STATE"}).size(), 0u);
}

// Every corpus file plays to its end on a device scripted from an independent reading of the
// file, and a device that answers one cared bit wrong fails the run at that scan.
TEST(XsvfOnSimulator, EveryCorpusFilePlaysToTheEnd) {
    int Played = 0;
    for (const auto& Entry : std::filesystem::directory_iterator(KORVEX_CORPUS)) {
        if (Entry.path().extension() != ".xsvf")
            continue;
        const std::string Path = Entry.path().string();
        SCOPED_TRACE(Path);
        const TXsvfScanList Scans = ListXsvfScans(Path);
        ASSERT_EQ(Scans.Unsupported, -1);
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

        // The last scan that expects a 1 somewhere gets a 0 there instead.
        auto Flipped = Scans.Scans;
        size_t Flip = Flipped.size();
        while (Flip > 0 && std::count(Flipped[Flip - 1].Tdo.begin(), Flipped[Flip - 1].Tdo.end(),
                                      uint8_t{1}) == 0)
            --Flip;
        ASSERT_GT(Flip, 0u);
        --Flip;
        *std::find(Flipped[Flip].Tdo.begin(), Flipped[Flip].Tdo.end(), uint8_t{1}) = 0;
        TSim F("");
        std::ofstream(F.Folder() + "/tdo.txt") << XsvfTdoScript(Flipped);
        F.Configure("tdo_script " + F.Folder() + "/tdo.txt");
        TXSVFFile Q(Path);
        const TSimRun W = F.Play(Q);
        EXPECT_EQ(W.Status, 1);
        // Every scan before the flipped one went out as the file says; the run failed there.
        const auto Shifts = TraceLines(W.Trace, {"SHIFT"});
        ASSERT_GT(Shifts.size(), Flip);
        const auto Good = TraceLines(R.Trace, {"SHIFT"});
        EXPECT_EQ(std::vector<std::string>(Shifts.begin(), Shifts.begin() + Flip),
                  std::vector<std::string>(Good.begin(), Good.begin() + Flip));
        ++Played;
    }
    EXPECT_EQ(Played, 11);
}

// XRUNTEST holds for every later scan: XRUNTEST 100, three XSDRTDO and one XSIR wait four times.
TEST(XsvfOnSimulator, XruntestHoldsForEveryLaterScan) {
    TSim H("");
    TXSVFFile P(MakeXsvf("runtest.xsvf", "XSDRSIZE 32\nXTDOMASK 0\nXRUNTEST 100\n"
                                         "XSDRTDO 0 0\nXSDRTDO 0 0\nXSDRTDO 0 0\nXSIR 8 FF\n"
                                         "XCOMPLETE\n"));
    const TSimRun R = H.Play(P);
    EXPECT_EQ(R.Status, 2);
    // Each 100 us wait is made of the programmer's pauses of 512/3 us, with the link's margin.
    EXPECT_EQ(TraceLines(R.Trace, {"WAIT"}), std::vector<std::string>(4, "WAIT 341")) << R.Trace;
}

// The rest of the command set, each row a file and the trace it must give.
struct TCommandRow {
    const char* Name;
    const char* Description;
    const char* Script; // scripted TDO, "" for the chain's own
    int Status;
    std::vector<std::string> Trace; // SHIFT, STATE, CLOCKS, WAIT, VPP lines after the reset
    bool VppTrst = false;
};

TEST(XsvfOnSimulator, ExtendedCommands) {
    const std::vector<TCommandRow> Rows = {
        {"XSIR2 with a 16-bit length",
         "XSIR2 8 FE\nXSDRSIZE 32\nXTDOMASK FFFFFFFF\nXSDRTDO 0 0A6B5093\nXCOMPLETE\n",
         "",
         2,
         {"STATE IDLE", "SHIFT IR 8 TDI FE TDO 01", "STATE IDLE",
          "SHIFT DR 32 TDI 00000000 TDO 0A6B5093", "STATE IDLE"}},
        {"XWAIT goes to its wait state, waits, goes to its end state",
         "XWAIT DRPAUSE IDLE 1000\nXWAIT IDLE IDLE 500\nXCOMPLETE\n",
         "",
         2,
         {"STATE IDLE", "STATE DRPAUSE", "WAIT 1195", "STATE IDLE", "WAIT 683"}},
        {"XWAITSTATE clocks and waits",
         "XWAITSTATE IDLE IRPAUSE 50 1000\nXCOMPLETE\n",
         "",
         2,
         {"STATE IDLE", "CLOCKS 50", "WAIT 1195", "STATE IRPAUSE"}},
        {"XSETSDRMASKS and XSDRINC count the address and fill the data",
         "XSDRSIZE 8\nXTDOMASK 00\nXSETSDRMASKS 10 0F\nXSDRINC 05 A B\nXCOMPLETE\n",
         "",
         2,
         {"STATE IDLE", "SHIFT DR 8 TDI 05 TDO 93", "STATE IDLE", "SHIFT DR 8 TDI 1A TDO 93",
          "STATE IDLE", "SHIFT DR 8 TDI 2B TDO 93", "STATE IDLE"}},
        {"LSDR repeats until TDO matches",
         "XSDRSIZE 4\nXTDOMASK F\nLCOUNT 5\nLDELAY IDLE 3 0\nLSDR 0 5\nXCOMPLETE\n",
         "DR 4 0\nDR 4 0\nDR 4 5\n",
         2,
         {"STATE IDLE", "SHIFT DR 4 TDI 0 TDO 0", "STATE IDLE", "CLOCKS 3",
          "SHIFT DR 4 TDI 0 TDO 0", "STATE IDLE", "CLOCKS 3", "SHIFT DR 4 TDI 0 TDO 5",
          "STATE IDLE"}},
        {"LSDR gives up after LCOUNT tries",
         "XSDRSIZE 4\nXTDOMASK F\nLCOUNT 2\nLDELAY IDLE 3 0\nLSDR 0 5\nXCOMPLETE\n",
         "DR 4 0\nDR 4 0\n",
         1,
         {"STATE IDLE", "SHIFT DR 4 TDI 0 TDO 0", "STATE IDLE", "CLOCKS 3",
          "SHIFT DR 4 TDI 0 TDO 0", "STATE IDLE"}},
        {"XTRST ON resets the TAP through TRST",
         "XSTATE IDLE\nXENDDR 1\nXSDRSIZE 8\nXSDR 00\nXTRST ON\nXTRST OFF\nXSIR 8 FE\nXCOMPLETE\n",
         "",
         2,
         {"STATE IDLE", "SHIFT DR 8 TDI 00 TDO 93", "STATE DRPAUSE", "VPP 3", "STATE RESET",
          "VPP 2", "STATE IDLE", "SHIFT IR 8 TDI FE TDO 01", "STATE IDLE"},
         true},
        {"bits beyond the expected value (its last byte's padding too) are never compared",
         "XSDRSIZE 4\nXTDOMASK F\nXSDRTDO 0 F5\nXSDRSIZE 8\nXTDOMASK FF\nXSDR 00\nXCOMPLETE\n",
         "DR 4 5\nDR 8 05\n",
         2,
         {"STATE IDLE", "SHIFT DR 4 TDI 0 TDO 5", "STATE IDLE", "SHIFT DR 8 TDI 00 TDO 05",
          "STATE IDLE"}},
    };
    for (const TCommandRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        TSim H(Row.VppTrst ? "vpp_trst\n" : "");
        if (Row.VppTrst)
            H.Link().UpdateOptions([](TRunOptions& O) { O.PActive = 3; });
        H.Link().UpdateOptions([](TRunOptions& O) { O.RTwCount = 0; });
        if (*Row.Script) {
            std::ofstream(H.Folder() + "/tdo.txt") << Row.Script;
            H.Configure(std::string(Row.VppTrst ? "vpp_trst\n" : "") + "tdo_script " + H.Folder() +
                        "/tdo.txt\n");
        }
        TXSVFFile P(MakeXsvf("row.xsvf", Row.Description));
        const TSimRun R = H.Play(P);
        EXPECT_EQ(R.Status, Row.Status);
        std::vector<std::string> Got;
        bool Opened = false;
        for (const auto& L : TraceLines(R.Trace, {"SHIFT", "STATE", "CLOCKS", "WAIT", "VPP"})) {
            if (!Opened) {
                Opened = L.rfind("CLOCKS", 0) == 0;
                continue;
            }
            Got.push_back(L);
        }
        EXPECT_EQ(Got, Row.Trace) << R.Trace;
    }
}

// The disassembler's text assembles to the same bytes, for every corpus file.
TEST(XsvfAssembler, DisassembledCorpusFilesAssembleToThemselves) {
    int Files = 0;
    for (const auto& Entry : std::filesystem::directory_iterator(KORVEX_CORPUS)) {
        if (Entry.path().extension() != ".xsvf")
            continue;
        std::ifstream In(Entry.path(), std::ios::binary);
        const std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(In)),
                                         std::istreambuf_iterator<char>());
        EXPECT_EQ(AssembleXsvf(DisassembleXsvf(Bytes)), Bytes) << Entry.path();
        ++Files;
    }
    EXPECT_EQ(Files, 11);
    // Damaged files keep their bytes too: an unknown opcode, a command cut short.
    for (const std::vector<uint8_t>& Bytes :
         {std::vector<uint8_t>{0x08, 0, 0, 0, 8, 0x1D, 1, 2}, std::vector<uint8_t>{0x09, 0x12},
          std::vector<uint8_t>{0x16, 'a', '\n', 0, 0x00, 0x42}})
        EXPECT_EQ(AssembleXsvf(DisassembleXsvf(Bytes)), Bytes);
}

TEST(XsvfOnSimulator, PipelinedReadBackGoesOutInFewWrites) {
    // 2,000 short XSDRTDO, each read back and compared: the writer runs ahead and the queue goes
    // out when full, not once per command. The 64-bit rows make more replies (36,000) than the
    // device holds unread, so the writer has to make room on the way; in the last row each scan
    // comes after commands that queue nothing (size, mask, run-test time), as in CPLD files.
    struct TRow {
        int Bits;
        bool Settings; // XSDRSIZE, XTDOMASK and XRUNTEST before every scan
    };
    for (const TRow Row : {TRow{8, false}, TRow{64, false}, TRow{64, true}}) {
        SCOPED_TRACE(Row.Bits);
        SCOPED_TRACE(Row.Settings);
        const std::string Ones(static_cast<size_t>(Row.Bits / 4), 'F');
        const std::string Size =
            "XSDRSIZE " + std::to_string(Row.Bits) + "\nXTDOMASK " + Ones + "\nXRUNTEST 0\n";
        std::string Text = "XREPEAT 0\nXSTATE RESET\nXSTATE IDLE\n" + Size;
        for (int I = 0; I < 2000; ++I)
            Text += (Row.Settings ? Size : "") + "XSDRTDO " +
                    std::string(Ones.size(), "05AF"[I % 4]) + " " + Ones + "\n";
        TSim H("tdo_constant 1\n");
        TXSVFFile P(MakeXsvf("short_scans.xsvf", Text + "XCOMPLETE\n"));
        const TSimRun R = H.Play(P);
        EXPECT_EQ(R.Status, 2);
        EXPECT_EQ(H.SummaryValue("errors"), 0);
        EXPECT_LE(H.SummaryValue("writes"), 50);
    }
}
