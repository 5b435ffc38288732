// End-to-end: SVF files played through the real programmer link on the simulated KORVEX, with
// the simulator's scan-level trace as the witness of what reached the JTAG chain.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "jtag_files_list.h"
#include "sim_harness.h"
#include "svf_file.h"
#include "svf_model.h"

namespace {

std::string DataFile(const std::string& Name) {
    return std::string(KORVEX_TEST_DATA) + "/svf/" + Name;
}

TSimRun PlayFile(TSimHarness& H, const std::string& Path, int64_t Frequency = 3000000) {
    RegisterSVFFile();
    auto File = TJtagFilesList::Global().CreateForFile(".svf", Path);
    return H.Play(*File, Frequency);
}

TSimRun PlayText(TSimHarness& H, const std::string& Text, int64_t Frequency = 3000000) {
    const std::string Path = H.Folder() + "/play.svf";
    std::ofstream(Path, std::ios::binary) << Text;
    return PlayFile(H, Path, Frequency);
}

std::vector<std::string> TraceLines(const std::string& Trace, const std::string& Prefix) {
    std::vector<std::string> Out;
    std::istringstream In(Trace);
    for (std::string L; std::getline(In, L);)
        if (L.rfind(Prefix, 0) == 0)
            Out.push_back(L);
    return Out;
}

std::string Joined(const std::vector<std::string>& Lines) {
    std::string S;
    for (const auto& L : Lines)
        S += L + "\n";
    return S;
}

// Three devices from TDI to TDO: A (IR 4), the target B (IR 8), C (IR 5). Bits shifted first
// travel furthest, so the header pads C and the trailer pads A.
const char* const Chain = "tap irlen=4 idcode=0x11111093\n"
                          "tap irlen=8 idcode=0x0A6B5093\n"
                          "tap irlen=5 idcode=0x22222093\n";

TEST(SvfOnSimulator, IdcodeOfAChainWithPadding) {
    TSimHarness H(Chain);
    const TSimRun R = PlayFile(H, DataFile("idcode_chain.svf"));
    EXPECT_EQ(R.Status, 2) << Joined(R.Lines);
    const std::string Trace = R.Trace;
    // IR: 5 + 8 + 4 bits, BYPASS around IDCODE; DR: 1 + 32 + 1 bits.
    EXPECT_NE(Trace.find("SHIFT IR 17 TDI 1FFDF"), std::string::npos) << Trace;
    EXPECT_NE(Trace.find("SHIFT DR 34 TDI 000000000 TDO "), std::string::npos) << Trace;
    EXPECT_TRUE(TraceLines(Trace, "ERROR").empty()) << Trace;
}

TEST(SvfOnSimulator, ProgramThenVerify) {
    TSimHarness H;
    TSimRun R = PlayFile(H, DataFile("program_verify.svf"));
    EXPECT_EQ(R.Status, 2) << Joined(R.Lines);
    EXPECT_NE(R.Trace.find("SHIFT DR 32 TDI 00000000 TDO 5EC0FFEE"), std::string::npos);

    R = PlayFile(H, DataFile("program_verify_wrong_bit.svf"));
    EXPECT_EQ(R.Status, 1);
    // The expected value 5EC0FFEF, bit 0 first, against what the register really holds.
    const std::vector<std::string> Want = {"Error on SDR instruction: ",
                                           "Expected: 1111 0111 1111 1111 0000 0011 0111 1010 ",
                                           "Readed:   0111 0111 1111 1111 0000 0011 0111 1010 ",
                                           "Expected (hex): 5EC0FFEF",
                                           "Read     (hex): 5EC0FFEE",
                                           "Mask     (hex): FFFFFFFF",
                                           "Failing SDR statement near line 12"};
    std::vector<std::string> Got;
    for (const auto& M : R.Messages)
        if (M.Severity == 2)
            Got.push_back(M.Text);
    EXPECT_EQ(Got, Want);
}

// Late read-back (the programmer's replies held back) changes nothing but the timing.
TEST(SvfOnSimulator, DelayedReadBackGivesTheSameResult) {
    TSimHarness H;
    const TSimRun Fast = PlayFile(H, DataFile("program_verify.svf"));
    H.Configure("reply_delay_polls 7\n");
    const TSimRun Slow = PlayFile(H, DataFile("program_verify.svf"));
    EXPECT_EQ(Fast.Status, 2);
    EXPECT_EQ(Slow.Status, 2);
    EXPECT_EQ(TraceLines(Fast.Trace, "SHIFT"), TraceLines(Slow.Trace, "SHIFT"));
    H.Configure("reply_delay_ms 3\n");
    const TSimRun Late = PlayFile(H, DataFile("program_verify_wrong_bit.svf"));
    EXPECT_EQ(Late.Status, 1);
    EXPECT_TRUE(Late.HasLine("Failing SDR statement near line 12"));
}

TEST(SvfOnSimulator, RuntestForms) {
    const std::string Text = "RUNTEST 1000 TCK;\n"
                             "RUNTEST DRPAUSE 20 SCK ENDSTATE IDLE;\n"
                             "RUNTEST IDLE 2 TCK 1.5E-3 SEC;\n"
                             "RUNTEST RESET 100 TCK;\n"
                             "RUNTEST IDLE 1E-2 SEC MAXIMUM 1 SEC;\n";
    TSimHarness H;
    // Counts as clocks at the current speed, waits without TCK, no margin.
    H.Link().UpdateOptions([](TRunOptions& O) { O.RTwCount = 0; });
    H.Link().UpdateOptions([](TRunOptions& O) { O.RTwTime = 0; });
    H.Link().UpdateOptions([](TRunOptions& O) { O.SecurityTime = 0; });
    TSimRun R = PlayText(H, Text);
    EXPECT_EQ(R.Status, 2) << Joined(R.Lines);
    EXPECT_NE(R.Trace.find("STATE IDLE\nCLOCKS 1000\n"), std::string::npos) << R.Trace;
    EXPECT_NE(R.Trace.find("STATE DRPAUSE\nCLOCKS 20\n"), std::string::npos) << R.Trace;
    // The walk to RESET ends with three TMS-high clocks already in RESET.
    EXPECT_NE(R.Trace.find("STATE RESET\nCLOCKS 103\n"), std::string::npos) << R.Trace;
    const auto Waits = TraceLines(R.Trace, "WAIT");
    ASSERT_EQ(Waits.size(), 2u) << R.Trace;
    // Pauses are 512/3 us each, rounded up: at least the time asked for.
    EXPECT_GE(std::stoll(Waits[0].substr(5)), 1500);
    EXPECT_GE(std::stoll(Waits[1].substr(5)), 10000);

    // The defaults: counts taken as microseconds, waited on the slow clock with a 100 % margin.
    TSimHarness D;
    R = PlayText(D, Text);
    EXPECT_EQ(R.Status, 2);
    EXPECT_NE(R.Trace.find("FREQ 93750"), std::string::npos) << R.Trace;
    EXPECT_TRUE(TraceLines(R.Trace, "WAIT").empty());
}

TEST(SvfOnSimulator, TrstOnVpp) {
    const std::string Text = "TRST ON;\nTRST OFF;\nTRST Z;\nTRST ABSENT;\nTRST ON;\n";
    TSimHarness H;
    H.Link().UpdateOptions(
        [](TRunOptions& O) { O.PActive = 3; }); // VPP is TRST, released when the connection opens
    TSimRun R = PlayText(H, Text);
    EXPECT_EQ(R.Status, 2);
    EXPECT_EQ(TraceLines(R.Trace, "VPP"),
              (std::vector<std::string>{"VPP 0", "VPP 3", "VPP 2", "VPP 0", "VPP 3"}))
        << R.Trace;
    for (uint8_t Active : {0, 1, 2, 4}) {
        TSimHarness O;
        O.Link().UpdateOptions([&](TRunOptions& Options) { Options.PActive = Active; });
        R = PlayText(O, Text);
        EXPECT_EQ(R.Status, 2);
        int Warnings = 0;
        for (const auto& M : R.Messages)
            Warnings += M.Text == "Warning: TRST pin disabled but SVF file contains TRST command";
        EXPECT_EQ(Warnings, 4) << int(Active);
    }
}

// The TAP goes only where the file says. Each row plays a file on the simulator (clocks as
// clocks, waits as pauses) and checks the run's result, the error it reports and the trace lines
// of shifts, stable states, clock runs and pin changes after the opening reset.
struct TTapRow {
    const char* Name;
    const char* Text;
    int Status;
    const char* Error; // part of the fatal error line, "" when the run succeeds
    std::vector<std::string> Trace;
    bool VppTrst = false; // VPP is the chain's TRST
};

TEST(SvfOnSimulator, TapGoesOnlyWhereTheFileSays) {
    const std::string IdcodeScan = "SHIFT DR 32 TDI 00000000 TDO 0A6B5093";
    const std::vector<TTapRow> Rows = {
        {"run state that is not stable",
         "SIR 8 TDI (FE);\nRUNTEST DRSELECT 10 TCK;\nSDR 32 TDI (00000000);\n",
         1,
         "Fatal error RUNTEST DRSELECT: not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE) "
         "near line 2",
         {"STATE IDLE", "SHIFT IR 8 TDI FE TDO 01", "STATE IDLE"}},
        {"SIR 0 loads no instruction",
         "SIR 8 TDI (FE);\nSIR 0;\nSDR 32 TDI (00000000) TDO (0A6B5093);\n",
         2,
         "",
         {"STATE IDLE", "SHIFT IR 8 TDI FE TDO 01", "STATE IDLE", IdcodeScan, "STATE IDLE"}},
        {"SDR 0 shifts nothing",
         "SDR 0;\nENDDR DRPAUSE;\nSDR 0;\nSDR 32 TDI (00000000) TDO (0A6B5093);\n",
         2,
         "",
         {"STATE IDLE", "STATE DRPAUSE", IdcodeScan, "STATE DRPAUSE"}},
        {"RUNTEST already in its end state stays",
         "RUNTEST DRPAUSE 10 TCK ENDSTATE DRPAUSE;\n",
         2,
         "",
         {"STATE IDLE", "STATE DRPAUSE", "CLOCKS 10"}},
        {"STATE IRSELECT is refused",
         "SIR 8 TDI (FE);\nSTATE IRSELECT;\nSDR 32 TDI (00000000) TDO (0A6B5093);\n",
         1,
         "Fatal error STATE IRSELECT: not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE) "
         "near line 2",
         {"STATE IDLE", "SHIFT IR 8 TDI FE TDO 01", "STATE IDLE"}},
        {"TRST ON on VPP leaves the TAP in RESET",
         "STATE DRPAUSE;\nTRST ON;\nTRST OFF;\nSIR 8 TDI (FE);\n"
         "SDR 32 TDI (00000000) TDO (0A6B5093);\n",
         2,
         "",
         {"STATE IDLE", "STATE DRPAUSE", "VPP 3", "STATE RESET", "VPP 2", "STATE IDLE",
          "SHIFT IR 8 TDI FE TDO 01", "STATE IDLE", IdcodeScan, "STATE IDLE"},
         true},
        {"RUNTEST with run_count and min_time gives both",
         "RUNTEST 100000 TCK 1E-3 SEC;\nRUNTEST 30 TCK 1E-3 SEC;\n",
         2,
         "",
         {"STATE IDLE", "CLOCKS 100030", "WAIT 1195"}},
        {"negative run_count",
         "RUNTEST -10 TCK;\n",
         1,
         "Fatal error RUNTEST run_count must not be negative near line 1",
         {}},
        {"FREQUENCY error names its line",
         "SIR 8 TDI (FE);\nFREQUENCY 0 HZ;\n",
         1,
         "Fatal error Cannot set a TCK frequency of 0 Hz: the frequency must be positive near "
         "line 2",
         {"STATE IDLE", "SHIFT IR 8 TDI FE TDO 01", "STATE IDLE"}},
        {"__EOF in the file is an unknown word",
         "SIR 8 TDI (FE);\n__EOF;\nSDR 32 TDI (00000000);\n",
         1,
         "Fatal error Unknown SVF command __EOF near line 2",
         {"STATE IDLE", "SHIFT IR 8 TDI FE TDO 01", "STATE IDLE"}},
        {"PIOMAP is refused with the reason",
         "SIR 8 TDI (FE);\nPIOMAP (IN A);\n",
         1,
         "Fatal error Unsupported SVF command PIOMAP: parallel vectors: the KORVEX drives JTAG "
         "only near line 2",
         {"STATE IDLE", "SHIFT IR 8 TDI FE TDO 01", "STATE IDLE"}},
    };
    for (const TTapRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        TSimHarness H(Row.VppTrst ? "vpp_trst\n" : "");
        H.Link().UpdateOptions([](TRunOptions& O) {
            O.RTwCount = 0;
            O.RTwTime = 0;
            O.SecurityTime = 0;
        });
        if (Row.VppTrst)
            H.Link().UpdateOptions([](TRunOptions& O) { O.PActive = 3; });
        const TSimRun R = PlayText(H, Row.Text);
        EXPECT_EQ(R.Status, Row.Status) << Joined(R.Lines);
        if (*Row.Error) {
            EXPECT_TRUE(R.HasLine(Row.Error)) << Joined(R.Lines);
        }
        // The trace after the opening walk to RESET (its lines up to the first CLOCKS).
        auto Lines = TraceLines(R.Trace, "");
        std::vector<std::string> Got;
        bool Opened = false;
        for (const std::string& L : Lines) {
            if (!Opened) {
                Opened = L.rfind("CLOCKS", 0) == 0;
                continue;
            }
            for (const char* K : {"SHIFT", "STATE", "CLOCKS", "WAIT", "VPP"})
                if (L.rfind(K, 0) == 0)
                    Got.push_back(L);
        }
        EXPECT_EQ(Got, Row.Trace) << R.Trace;
    }
}

// 100 kHz is below the programmer's fast speeds: it works by dividing bit-level commands, with
// one reply per captured bit instead of one per four. A scan read back in either mode verifies.
TEST(SvfOnSimulator, FrequencyIntoDividerModeAndBack) {
    const std::string Text = "SIR 8 TDI (FE);\n"
                             "SDR 32 TDI (00000000) TDO (0A6B5093);\n"
                             "FREQUENCY 1E5 HZ;\n"
                             "SDR 32 TDI (00000000) TDO (0A6B5093);\n"
                             "FREQUENCY;\n"
                             "SDR 32 TDI (00000000) TDO (0A6B5093);\n";
    TSimHarness H("reply_delay_polls 3\n");
    TSimRun R = PlayText(H, Text);
    EXPECT_EQ(R.Status, 2) << Joined(R.Lines);
    EXPECT_EQ(TraceLines(R.Trace, "SHIFT DR 32 TDI 00000000 TDO 0A6B5093").size(), 3u) << R.Trace;
    EXPECT_EQ(H.SummaryValue("errors"), 0);
    // The divider-mode scan takes far longer on the device than the fast ones.
    EXPECT_GT(H.SummaryValue("device_us"), 32 * 10);
}

TEST(SvfOnSimulator, ParseErrorNamesItsLine) {
    TSimHarness H;
    const TSimRun R = PlayText(H, "! a comment\nSIR 8 TDI (FE);\nSDR 32 TDI (0) TDO (0A6B5093);\n"
                                  "SDR 32 TDI (0)\n   TOO (0);\nSDR 32 TDI (0);\n");
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.HasLine("Fatal error Unknown keyword TOO near line 5\r\n\"   TOO (0);\""))
        << Joined(R.Lines);
    EXPECT_EQ(TraceLines(R.Trace, "SHIFT DR").size(), 1u);
}

TEST(SvfOnSimulator, Demo) {
    TSimHarness H;
    const TSimRun R = PlayFile(H, std::string(KORVEX_TEST_DATA) + "/../../examples/demo.svf");
    EXPECT_EQ(R.Status, 2) << Joined(R.Lines);
    EXPECT_TRUE(TraceLines(R.Trace, "ERROR").empty());
}

// The scripted answers are really compared: the same file with every read-back bit high fails.
TEST(SvfOnSimulator, CorpusScriptIsChecked) {
    const std::string Path = std::string(KORVEX_CORPUS) + "/mrjtag_idcode.svf";
    auto Scans = svfmodel::Scans(Path);
    ASSERT_FALSE(Scans.empty());
    for (auto& S : Scans)
        S.Hex = std::string(S.Hex.size(), 'F');
    TSimHarness H;
    const std::string Script = H.Folder() + "/tdo.txt";
    std::ofstream(Script) << svfmodel::Script(Scans);
    H.Configure("tdo_script " + Script + "\n");
    const TSimRun R = PlayFile(H, Path);
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.HasLine("Error on S")) << Joined(R.Lines);
}

// Every SVF file of the corpus plays to success, the simulated target answering each scan with
// the TDO an independent reading of the file expects (a LOOP body then matches at its first
// pass); the one with parallel vectors is refused with the line of that statement.
TEST(SvfOnSimulator, Corpus) {
    int Played = 0;
    std::vector<std::filesystem::path> Files;
    for (const auto& E : std::filesystem::directory_iterator(KORVEX_CORPUS))
        if (E.path().extension() == ".svf")
            Files.push_back(E.path());
    std::sort(Files.begin(), Files.end());
    for (const auto& Path : Files) {
        const std::string Name = Path.filename().string();
        TSimHarness H;
        const auto Scans = svfmodel::Scans(Path.string());
        const std::string Script = H.Folder() + "/tdo.txt";
        std::ofstream(Script) << svfmodel::Script(Scans);
        H.Configure("tdo_script " + Script + "\n");
        H.Link().UpdateOptions([](TRunOptions& O) {
            O.RTwTime = 0;
        }); // waits as pauses: the same time, fewer command bytes
        const TSimRun R = PlayFile(H, Path.string());
        const auto Errors = TraceLines(R.Trace, "ERROR");
        std::string Refused;
        for (const auto& [Statement, Line] : svfmodel::Statements(Path.string())) {
            const auto W = svfmodel::Words(Statement);
            if (!W.empty() && (W[0] == "PIOMAP" || W[0] == "PIO")) {
                Refused = "Fatal error Unsupported SVF command " + W[0] +
                          ": parallel vectors: the KORVEX drives JTAG only near line " +
                          std::to_string(Line) + "\r\n";
                break;
            }
        }
        if (Name == "vhdlsvf_test-commands.svf") {
            ASSERT_FALSE(Refused.empty()) << Name;
            EXPECT_EQ(R.Status, 1) << Name;
            EXPECT_TRUE(R.HasLine(Refused)) << Name << "\n" << Joined(R.Lines);
            continue;
        }
        EXPECT_TRUE(Refused.empty()) << Name;
        EXPECT_EQ(R.Status, 2) << Name << "\n" << Joined(R.Lines);
        EXPECT_TRUE(Errors.empty()) << Name << "\n" << Joined(Errors);
        EXPECT_EQ(TraceLines(R.Trace, "SHIFT").size(), Scans.size()) << Name;
        ++Played;
    }
    EXPECT_EQ(Played, 22);
}

// The Lattice file with 2,691 LOOPs: a cared TDO bit flipped in its last compared scan fails the
// run with that scan's line.
TEST(SvfOnSimulator, LatticeLoopFile) {
    const std::string Path = std::string(KORVEX_CORPUS) + "/gw4302-loop_REU_impl1.svf";
    const auto Scans = svfmodel::Scans(Path);
    ASSERT_FALSE(Scans.empty());
    // The last scan that compares something.
    size_t Flip = Scans.size();
    while (Flip > 0 && Scans[Flip - 1].Hex.find_first_not_of('0') == std::string::npos)
        --Flip;
    ASSERT_GT(Flip, 0u);
    --Flip;
    auto Flipped = Scans;
    std::string& Hex = Flipped[Flip].Hex;
    const size_t Digit = Hex.find_last_not_of('0');
    const int Value = std::stoi(Hex.substr(Digit, 1), nullptr, 16);
    Hex[Digit] = "0123456789ABCDEF"[Value & (Value - 1)]; // its lowest expected 1 becomes 0
    TSimHarness H;
    const std::string Script = H.Folder() + "/tdo.txt";
    std::ofstream(Script) << svfmodel::Script(Flipped);
    H.Configure("tdo_script " + Script + "\n");
    H.Link().UpdateOptions([](TRunOptions& O) { O.RTwTime = 0; });
    const TSimRun R = PlayFile(H, Path);
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.HasLine(std::string("Failing ") + (Flipped[Flip].Ir ? "SIR" : "SDR") +
                          " statement near line " + std::to_string(Flipped[Flip].Line)))
        << Joined(R.Lines);
}

// LOOP n; ... ENDLOOP;: the body runs again while a compare in it fails, at most n times.
struct TLoopRow {
    const char* Name;
    const char* Text;
    const char* Script; // the scripted TDO of each DR scan, in order
    int Status;
    const char* Error;
    size_t Scans; // DR scans in the trace
};

TEST(SvfOnSimulator, LoopUntilTheCompareMatches) {
    const char* Poll = "SIR 8 TDI (F0);\nLOOP 3;\nRUNTEST IDLE 2 TCK 1E-3 SEC;\n"
                       "SDR 1 TDI (0) TDO (0);\nENDLOOP;\nSDR 1 TDI (0);\n";
    const std::vector<TLoopRow> Rows = {
        {"ready at once", Poll, "DR 1 0\nDR 1 0\n", 2, "", 2},
        {"busy twice, then ready", Poll, "DR 1 1\nDR 1 1\nDR 1 0\nDR 1 0\n", 2, "", 4},
        {"busy at every pass", Poll, "DR 1 1\nDR 1 1\nDR 1 1\n", 1,
         "Failing SDR statement near line 4", 3},
        {"nested LOOP", "LOOP 2;\nLOOP 2;\nENDLOOP;\nENDLOOP;\n", "", 1,
         "Fatal error Nested LOOP near line 2", 0},
        {"ENDLOOP without LOOP", "STATE IDLE;\nENDLOOP;\n", "", 1,
         "Fatal error ENDLOOP without LOOP near line 2", 0},
        {"LOOP without ENDLOOP", "LOOP 2;\nSTATE IDLE;\n", "", 1,
         "Fatal error LOOP without ENDLOOP", 0},
    };
    for (const TLoopRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        TSimHarness H;
        const std::string Script = H.Folder() + "/tdo.txt";
        std::ofstream(Script) << "IR 8 01\n" << Row.Script;
        H.Configure("tdo_script " + Script + "\n");
        H.Link().UpdateOptions([](TRunOptions& O) { O.RTwTime = 0; });
        const TSimRun R = PlayText(H, Row.Text);
        EXPECT_EQ(R.Status, Row.Status) << Joined(R.Lines);
        if (*Row.Error) {
            EXPECT_TRUE(R.HasLine(Row.Error)) << Joined(R.Lines);
        } else {
            EXPECT_TRUE(R.Lines.empty()) << Joined(R.Lines); // retried passes are no errors
        }
        EXPECT_EQ(TraceLines(R.Trace, "SHIFT DR").size(), Row.Scans) << R.Trace;
    }
}

} // namespace

// With constant TDO and no trace the simulator counts runs of bit, pin and group-shift commands
// instead of stepping each one; a run's totals (clocks, bytes, writes, replies, read round trips,
// device time) must be those of the stepping model, in fast and in divider mode.
TEST(SvfOnSimulator, CountedRunsGiveTheSteppedTotals) {
    struct TRow {
        const char* Name;
        std::string Text;
        int64_t Frequency;
    };
    const std::string Walks = "STATE RESET;\nSIR 8 TDI (A5) TDO (FF);\n"
                              "SDR 37 TDI (123456789A) TDO (1FFFFFFFFF) MASK (0F0F0F0F0F);\n"
                              "RUNTEST 100 TCK;\nENDDR DRPAUSE;\nSDR 5 TDI (1F);\nSTATE IDLE;\n"
                              "RUNTEST IDLE 10 TCK 1E-3 SEC;\nENDIR IRPAUSE;\nSIR 4 TDI (3);\n"
                              "STATE DRPAUSE;\nRUNTEST DRPAUSE 7 TCK;\nSTATE IDLE;\n";
    const std::string Long = "SDR 5000 TDI (" + std::string(1250, 'C') + ") TDO (" +
                             std::string(1250, 'F') + ") MASK (" + std::string(1250, '6') +
                             ");\nSIR 8 TDI (00) TDO (FF);\n";
    const std::vector<TRow> Rows = {{"walks, scans and clocks at 3 MHz", Walks, 3000000},
                                    {"the same in divider mode", Walks, 750000},
                                    {"a long captured scan", Long, 3000000}};
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        std::string Totals[2];
        for (int Counted : {0, 1}) {
            TSimHarness H(Counted ? "tdo_constant 1\ntrace -\n" : "tdo_constant 1\n");
            const TSimRun R = PlayText(H, Row.Text, Row.Frequency);
            EXPECT_EQ(R.Status, 2) << Joined(R.Lines);
            Totals[Counted] = H.SummaryText();
        }
        EXPECT_NE(Totals[0].find("tck_cycles"), std::string::npos);
        EXPECT_EQ(Totals[0], Totals[1]);
    }
}
