// korvex-cli's bench and production-line options, run as processes through a shell on the
// simulated programmer: --detect, --check, --json, --log, and two programmers at once.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>
#include <sys/wait.h>
#include <unistd.h>

#include "scratch.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& P) {
    std::ifstream In(P, std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
}

int Count(const std::string& Text, const std::string& Part) {
    int N = 0;
    for (size_t P = Text.find(Part); P != std::string::npos; P = Text.find(Part, P + 1))
        ++N;
    return N;
}

class CliBench : public ::testing::Test {
protected:
    void SetUp() override { Sim("sim.cfg", ""); }

    // A simulator scenario under its own name (two processes at once use two of them).
    void Sim(const std::string& Name, const std::string& Config) {
        Configs[Name] = Scenario.Write(Config);
    }
    std::string File(const std::string& Name, const std::string& Text) {
        return Scratch.Write(Name, Text);
    }
    // "korvex-cli ARGS" with the simulator, standard output and error into Tag.out / Tag.err.
    std::string Command(const std::string& Args, const std::string& Tag = "run",
                        const std::string& SimConfig = "sim.cfg") const {
        return "KORVEX_D2XX=" + TSimScenario::Library() + " KORVEX_SIM=" + Configs.at(SimConfig) +
               " " + KORVEX_BINARY_DIR + "/src/cli/korvex-cli -I " +
               (Dir / "settings.ini").string() + " " + Args + " >" +
               (Dir / (Tag + ".out")).string() + " 2>" + (Dir / (Tag + ".err")).string();
    }
    int Shell(const std::string& Line) const {
        const int Status = std::system(Line.c_str());
        return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    }
    int Run(const std::string& Args) const { return Shell(Command(Args)); }
    std::string Out(const std::string& Tag = "run") const { return ReadAll(Dir / (Tag + ".out")); }
    std::string Err(const std::string& Tag = "run") const { return ReadAll(Dir / (Tag + ".err")); }

    TScratchFolder Scratch{"cli-bench"};
    TSimScenario Scenario{Scratch};
    fs::path Dir{Scratch.Path()};
    std::map<std::string, std::string> Configs;
};

TEST_F(CliBench, DetectListsTheChain) {
    Sim("sim.cfg", "tap irlen=8 idcode=0x59604093\ntap irlen=5 idcode=none\n"
                   "tap irlen=6 idcode=0x0362D093\n");
    ASSERT_EQ(Run("--detect"), 0) << Err();
    const std::string O = Out();
    EXPECT_NE(O.find("JTAG chain: 3 devices, instruction registers 19 bits in total"),
              std::string::npos)
        << O;
    EXPECT_NE(O.find("  1  0x59604093  Xilinx (AMD)              XC9572XL (IR 8)\n"),
              std::string::npos)
        << O;
    EXPECT_NE(O.find("  2  BYPASS      -"), std::string::npos) << O;
    EXPECT_NE(O.find("  3  0x0362D093  Xilinx (AMD)              XC7A35T (IR 6)\n"),
              std::string::npos)
        << O;

    const struct {
        const char* Config;
        int ExitCode;
        const char* Text;
    } Faults[] = {{"tdo_constant 1\n", 1, "Chain scan failed: TDO stays high"},
                  {"no_devices\n", 2, "KORVEX not found"}};
    for (const auto& F : Faults) {
        Sim("sim.cfg", F.Config);
        EXPECT_EQ(Run("--detect"), F.ExitCode) << F.Config;
        EXPECT_NE((Out() + Err()).find(F.Text), std::string::npos) << Out() << Err();
    }
}

// No programmer and no driver library: the check never loads one.
TEST_F(CliBench, CheckNeedsNoDriver) {
    const std::string Good = File("good.svf", "STATE RESET;\nSIR 8 TDI (FE);\n"
                                              "SDR 32 TDI (0) TDO (12345678);\n");
    const std::string Bad = File("bad.svf", "STATE RESET;\n\nSTATE NOWHERE;\n");
    const std::string NoDriver = "KORVEX_D2XX=/nonexistent.so ";
    EXPECT_EQ(Shell(NoDriver + Command("--check " + Good)), 0) << Err();
    EXPECT_NE(Out().find("SVF file read to its end: 3 statements, 2 scans of 40 bits"),
              std::string::npos)
        << Out();
    EXPECT_EQ(Out().substr(Out().rfind('\n', Out().size() - 2) + 1),
              "Check passed: the file can be played\n");
    EXPECT_EQ(Shell(NoDriver + Command("--check " + Bad)), 1) << Err();
    EXPECT_NE(Out().find("near line 3"), std::string::npos) << Out();
}

// A log that cannot be written stops the run before the programmer is touched: the record of a
// programmed board must not be lost without a word.
TEST_F(CliBench, ALogThatCannotBeWrittenIsRefused) {
    const std::string Pass = File("pass.svf", "SIR 8 TDI (FE);\nSDR 32 TDI (0) TDO (0A6B5093);\n");
    const struct {
        std::string Log;
        const char* Why;
    } Rows[] = {{(Dir / "no-such-folder" / "line.log").string(), "No such file or directory"},
                {Dir.string(), "Is a directory"}};
    for (const auto& R : Rows) {
        EXPECT_EQ(Run("--json --log " + R.Log + " " + Pass), 2) << Err();
        EXPECT_NE(Err().find("korvex-cli: cannot write the log file " + R.Log + ": " + R.Why),
                  std::string::npos)
            << Err();
        EXPECT_EQ(nlohmann::json::parse(Out())["result"], "not started");
        EXPECT_EQ(Err().find("Using KORVEX"), std::string::npos) << "the programmer was opened";
    }
}

TEST_F(CliBench, JsonAndLogDescribeEachRun) {
    const std::string Pass = File("pass.svf", "SIR 8 TDI (FE);\nSDR 32 TDI (0) TDO (0A6B5093);\n");
    const std::string Fail = File("fail.svf", "SIR 8 TDI (FE);\n! wrong\nSDR 32 TDI (0) TDO "
                                              "(0A6B5193);\n");
    const std::string Log = (Dir / "line.log").string();
    const struct {
        std::string File;
        int ExitCode;
        const char* Result;
        int FailureLine; // 0: no failure
    } Rows[] = {{Pass, 0, "passed", 0}, {Fail, 1, "failed", 3}};
    for (const auto& R : Rows) {
        ASSERT_EQ(Run("--json --log " + Log + " " + R.File), R.ExitCode) << Err();
        // Standard output holds the JSON object alone; the console went to standard error.
        const auto J = nlohmann::json::parse(Out());
        EXPECT_EQ(J["file"], R.File);
        EXPECT_EQ(J["result"], R.Result);
        EXPECT_EQ(J["exit_code"], R.ExitCode);
        EXPECT_EQ(J["serial"], "012345");
        EXPECT_EQ(J["statements"], 2);
        EXPECT_EQ(J["scans"], 2);
        // Six TMS-high clocks to RESET, 1 + 4 to Shift-IR, 8 bits, 2 to IDLE, 3 to Shift-DR,
        // 32 bits, 2 to IDLE.
        EXPECT_EQ(J["tck_cycles"], 58);
        // The hash as an independent tool computes it.
        ASSERT_EQ(Shell("sha256sum " + R.File + " >" + (Dir / "sum").string()), 0);
        EXPECT_EQ(ReadAll(Dir / "sum").substr(0, 64), J["sha256"]);
        if (R.FailureLine == 0) {
            EXPECT_TRUE(J["failure"].is_null());
            EXPECT_NE(Err().find("File processing completed successfully\n"), std::string::npos);
        } else {
            EXPECT_EQ(J["failure"]["line"], R.FailureLine);
        }
        EXPECT_NE(Err().find("Total time "), std::string::npos) << Err();
    }
    const std::string L = ReadAll(Log);
    EXPECT_EQ(Count(L, "==== start: korvex-cli "), 2) << L;
    EXPECT_EQ(Count(L, "==== end: "), 2) << L;
    EXPECT_NE(L.find(" ==== end: passed, exit code 0, "), std::string::npos) << L;
    EXPECT_NE(L.find("  ERR Failing SDR statement near line 3\n"), std::string::npos) << L;
    EXPECT_NE(L.find(" ==== end: failed, exit code 1, "), std::string::npos) << L;
}

// One process per programmer: two runs at once, each on the programmer -S names, sharing one
// transcript. Each process simulates its own pair of programmers, so this proves the processes
// keep to their own serial number and share the log without damage; that two real programmers
// on one USB bus work side by side needs hardware to show.
TEST_F(CliBench, TwoProgrammersAtOnce) {
    const std::string Both = "device A6012345\ndevice A6010ABC\n";
    // A trace each: the two processes must not write into one file.
    Sim("a.cfg", Both + "trace " + Scratch.File("a.trace") + "\n");
    Sim("b.cfg", Both + "trace " + Scratch.File("b.trace") + "\n");
    std::string Long = "SIR 8 TDI (02);\n";
    for (int I = 0; I < 40; ++I)
        Long += "SDR 32 TDI (5EC0FFEE);\nSDR 32 TDI (5EC0FFEE) TDO (5EC0FFEE);\n";
    const std::string F = File("long.svf", Long);
    const std::string Log = (Dir / "shared.log").string();
    const int Status =
        Shell("(" + Command("-S A6012345 --json --log " + Log + " " + F, "a", "a.cfg") + ") & (" +
              Command("-S 010ABC --json --log " + Log + " " + F, "b", "b.cfg") +
              ") & wait %1; A=$?; wait %2; B=$?; exit $((A * 10 + B))");
    EXPECT_EQ(Status, 0) << Err("a") << Err("b");
    EXPECT_EQ(nlohmann::json::parse(Out("a"))["serial"], "012345");
    EXPECT_EQ(nlohmann::json::parse(Out("b"))["serial"], "010ABC");
    EXPECT_NE(Err("a").find("Using KORVEX S/N 012345\n"), std::string::npos) << Err("a");
    EXPECT_NE(Err("b").find("Using KORVEX S/N 010ABC\n"), std::string::npos) << Err("b");
    // Every line of the shared log is whole: it starts with a time stamp.
    const std::string L = ReadAll(Log);
    std::istringstream Lines(L);
    int N = 0;
    for (std::string Line; std::getline(Lines, Line); ++N)
        EXPECT_EQ(Line.substr(0, 2), "20") << Line;
    EXPECT_EQ(Count(L, "==== end: passed, exit code 0"), 2) << L;
    EXPECT_EQ(Count(L, "S/N 012345"), 2) << L; // its "Using" line and its end line
    EXPECT_GT(N, 8);
}

TEST_F(CliBench, HelpShowsExamples) {
    ASSERT_EQ(Run("--help"), 0);
    for (const char* Part : {"Examples:", "korvex-cli --detect", "korvex-cli --check board.svf",
                             "--log", "--json", "-S A6012345 a.svf & korvex-cli -S A6012346"})
        EXPECT_NE(Out().find(Part), std::string::npos) << Part;
}

} // namespace
