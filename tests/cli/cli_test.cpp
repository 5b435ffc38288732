// korvex-cli run as a process on the simulated programmer, as a script or a production line runs
// it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "driver_env.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {
const char* const IdcodeOk =
    "SIR 8 TDI (FE);\nSDR 32 TDI (00000000) TDO (0A6B5093) MASK (FFFFFFFF);\n";

std::string ReadAll(const fs::path& P) {
    std::ifstream In(P, std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
}

struct TResult {
    int ExitCode = -1;
    std::string Out, Err;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        Sim("");
        Ini = (Dir / "settings.ini").string();
    }

    // The scenario the next korvex-cli started plays on.
    void Sim(const std::string& Config) { SimConfig = Scenario.Write(Config); }
    std::string File(const std::string& Name, const std::string& Text) {
        return Scratch.Write(Name, Text);
    }

    // Starts korvex-cli with Args (the settings file of this test unless -I is among them);
    // standard output goes to OutFd when given, else to a file, standard error to a file.
    pid_t Spawn(std::vector<std::string> Args, int OutFd = -1,
                const std::vector<std::pair<std::string, std::string>>& Env = {}) {
        if (std::find(Args.begin(), Args.end(), "-I") == Args.end()) {
            Args.insert(Args.begin(), Ini);
            Args.insert(Args.begin(), "-I");
        }
        const std::string Exe = std::string(KORVEX_BINARY_DIR) + "/src/cli/korvex-cli";
        const std::string Out = (Dir / "out.txt").string(), Err = (Dir / "err.txt").string();
        const pid_t Pid = ::fork();
        if (Pid == 0) {
            korvextest::UseDriverLibrary(KORVEX_SIM_LIBRARY);
            ::setenv("KORVEX_SIM", SimConfig.c_str(), 1);
            ::unsetenv("NO_COLOR");
            for (const auto& [K, V] : Env)
                ::setenv(K.c_str(), V.c_str(), 1);
            const int O =
                OutFd >= 0 ? OutFd : ::open(Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int E = ::open(Err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(O, 1);
            ::dup2(E, 2);
            std::vector<char*> Argv{const_cast<char*>(Exe.c_str())};
            for (auto& A : Args)
                Argv.push_back(A.data());
            Argv.push_back(nullptr);
            ::execv(Exe.c_str(), Argv.data());
            ::_exit(127);
        }
        return Pid;
    }
    // Waits for the process (at most Limit) and collects what it wrote.
    TResult Wait(pid_t Pid, std::chrono::seconds Limit = std::chrono::seconds(30)) {
        TResult R;
        int Status = 0;
        const auto Deadline = std::chrono::steady_clock::now() + Limit;
        while (::waitpid(Pid, &Status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > Deadline) {
                ::kill(Pid, SIGKILL);
                ::waitpid(Pid, &Status, 0);
                ADD_FAILURE() << "korvex-cli did not end";
                return R;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        R.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
        R.Out = ReadAll(Dir / "out.txt");
        R.Err = ReadAll(Dir / "err.txt");
        return R;
    }
    TResult Run(const std::vector<std::string>& Args) { return Wait(Spawn(Args)); }

    TScratchFolder Scratch{"cli"};
    TSimScenario Scenario{Scratch};
    fs::path Dir{Scratch.Path()};
    std::string SimConfig;
    std::string Ini;
};
} // namespace

TEST_F(Cli, ExitCodesAndPlainOutputWhenPiped) {
    const std::string Ok = File("ok.svf", std::string("! hello\n") + IdcodeOk);
    const std::string Bad = File("bad.svf", "SIR 8 TDI (FE);\nSDR 8 TDI (00) TDO (FF);\n");
    const std::string Txt = File("notes.txt", "");
    const struct {
        std::vector<std::string> Args;
        int ExitCode;
        std::string LastLine;
    } Rows[] = {
        {{Ok}, 0, "File processing completed successfully"},
        {{Bad}, 1, "!! ERROR !! File processing failed"},
        {{Txt}, 2, "Fatal error \"No registered class for file type \"TXT\"\""},
        {{(Dir / "missing.svf").string()}, 2, ""}, // the file cannot be opened
    };
    for (const auto& R : Rows) {
        SCOPED_TRACE(R.Args.back());
        const TResult Res = Run(R.Args);
        EXPECT_EQ(Res.ExitCode, R.ExitCode) << Res.Out << Res.Err;
        EXPECT_EQ(Res.Out.find('\033'), std::string::npos) << "no colour into a pipe or file";
        EXPECT_EQ(Res.Out.rfind("Using KORVEX S/N 012345\nReading file " + R.Args.back() + "\n", 0),
                  0u)
            << Res.Out;
        if (!R.LastLine.empty()) {
            EXPECT_EQ(Res.Out.substr(Res.Out.size() - R.LastLine.size() - 1), R.LastLine + "\n");
        }
    }
    // A setting for this run only: no comment lines, and the settings file is left alone.
    const TResult Quiet = Run({"--WriteComments", "0", Ok});
    EXPECT_EQ(Quiet.ExitCode, 0);
    EXPECT_EQ(Quiet.Out.find("! hello"), std::string::npos) << Quiet.Out;
    EXPECT_NE(Run({Ok}).Out.find("\n! hello\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(Ini));
}

TEST_F(Cli, DidNotStart) {
    const std::string Ok = File("ok.svf", IdcodeOk);
    // No driver library.
    TResult R = Wait(Spawn({Ok}, -1, {{korvextest::DriverVariable(), (Dir / "none.so").string()}}));
    EXPECT_EQ(R.ExitCode, 2);
    EXPECT_NE(R.Err.find("USB drivers not found or bad version."), std::string::npos) << R.Err;
    // No programmer attached.
    Sim("no_devices\n");
    R = Run({Ok});
    EXPECT_EQ(R.ExitCode, 2);
    EXPECT_NE(R.Err.find("KORVEX not found"), std::string::npos) << R.Err;
    // Bad arguments.
    EXPECT_EQ(Run({"--DefFreq", "3", Ok}).ExitCode, 2);
    EXPECT_EQ(Run({}).ExitCode, 2);
    EXPECT_EQ(Run({"-S", "xyz", Ok}).ExitCode, 2);
}

// --driver picks the library whatever the variables name; --list says which one is in use.
TEST_F(Cli, DriverChoice) {
    const std::string Ok = File("ok.svf", IdcodeOk);
    const std::vector<std::pair<std::string, std::string>> Both = {
        {"KORVEX_D2XX", (Dir / "none.so").string()}, {"KORVEX_LIBFTDI", KORVEX_SIM_LIBRARY}};
    struct TCase {
        std::vector<std::string> Args;
        int ExitCode;
        const char* Err; // a part of standard error
    };
    const TCase Cases[] = {
        {{"--driver", "libftdi", Ok}, 0, ""},
        {{"--Driver", "LIBFTDI", "--list"}, 0, "korvex-cli: USB driver libftdi1 ("},
        {{Ok}, 2, "Tried D2XX: cannot load "}, // auto: KORVEX_D2XX is set, so D2XX only
        {{"--driver", "d2xx", Ok}, 2, "none.so"},
        {{"--driver", "ftdi", Ok}, 2, "Driver"},
    };
    for (const TCase& C : Cases) {
        const TResult R = Wait(Spawn(C.Args, -1, Both));
        EXPECT_EQ(R.ExitCode, C.ExitCode) << C.Args[1] << R.Err;
        EXPECT_NE(R.Err.find(C.Err), std::string::npos) << R.Err;
    }
}

// A programmer another program holds is reported "in use", never "not found", whichever driver
// lists it (D2XX cannot read anything of it; libftdi reads its serial and fails the claim); one
// whose serial -S could not name is said, not skipped in silence.
TEST_F(Cli, HeldAndUnnamableProgrammers) {
    const std::string Ok = File("ok.svf", IdcodeOk);
    const std::vector<std::pair<std::string, std::string>> Both = {
        {"KORVEX_D2XX", KORVEX_SIM_LIBRARY}, {"KORVEX_LIBFTDI", KORVEX_SIM_LIBRARY}};
    struct TCase {
        const char* Devices;
        std::vector<std::string> Args;
        int ExitCode;
        const char* D2xxOut; // standard output with D2XX ("*": not looked at)
        const char* LibftdiOut;
        const char* Err; // a part of standard error or output, with either driver
    };
    const TCase Cases[] = {
        {"device A6012345 refuse\n", {"--list"}, 0, "", "012345\tin use\n", "in use"},
        {"device A6012345 refuse\n", {Ok}, 2, "*", "*", "in use by another program"},
        {"device A6012345 refuse\n", {"-S", "012345", Ok}, 2, "*", "*", "in use"},
        {"device A6012345 refuse\ndevice A6012346\n",
         {"--list"},
         0,
         "012346\n",
         "012345\tin use\n012346\n",
         ""},
        {"device A6012345 refuse\ndevice A6012346\n", {Ok}, 0, "*", "*", "S/N 012346"},
        {"device A601XY12\n", {"--list"}, 0, "", "", "\"A601XY12\" is attached; it is not hex"},
        {"device A601XY12\n", {Ok}, 2, "", "", "\"A601XY12\" (not hexadecimal)"},
        {"device A601XY12\ndevice A6012345\n", {Ok}, 0, "*", "*", "S/N 012345"},
    };
    for (const TCase& C : Cases)
        for (const char* Driver : {"d2xx", "libftdi"}) {
            Sim(C.Devices);
            std::vector<std::string> Args = {"--driver", Driver};
            Args.insert(Args.end(), C.Args.begin(), C.Args.end());
            const TResult R = Wait(Spawn(Args, -1, Both));
            const std::string Where = std::string(Driver) + " " + C.Devices + C.Args[0];
            EXPECT_EQ(R.ExitCode, C.ExitCode) << Where << R.Err;
            const char* Out = Driver[0] == 'd' ? C.D2xxOut : C.LibftdiOut;
            if (std::string(Out) != "*") {
                EXPECT_EQ(R.Out, Out) << Where;
            }
            EXPECT_NE((R.Err + R.Out).find(C.Err), std::string::npos) << Where << R.Err << R.Out;
            EXPECT_EQ((R.Err + R.Out).find("not found"), std::string::npos) << Where << R.Err;
        }
}

TEST_F(Cli, ProgrammerChoiceWithoutADialog) {
    const std::string Ok = File("ok.svf", IdcodeOk);
    Sim("device A6012345\ndevice A6010ABC\n");
    TResult R = Run({Ok});
    EXPECT_EQ(R.ExitCode, 2);
    EXPECT_NE(R.Err.find("012345"), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find("010ABC"), std::string::npos) << R.Err;
    EXPECT_EQ(R.Out, "");

    R = Run({"--list"});
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(R.Out, "012345\n010ABC\n");

    R = Run({"-s", "010abc", Ok});
    EXPECT_EQ(R.ExitCode, 0) << R.Err;
    EXPECT_EQ(R.Out.rfind("Using KORVEX S/N 010ABC\n", 0), 0u) << R.Out;

    // -S names one that is not attached: no other programmer is taken instead.
    R = Run({"-S", "777777", Ok});
    EXPECT_EQ(R.ExitCode, 2);
    EXPECT_NE(R.Err.find("777777"), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find("012345, 010ABC"), std::string::npos) << R.Err;

    // The remembered programmer, when attached, needs no choice.
    std::ofstream(Ini) << "[Params]\nLastSerial=68284\n";
    R = Run({Ok});
    EXPECT_EQ(R.ExitCode, 0) << R.Err;
    EXPECT_EQ(R.Out.rfind("Using KORVEX S/N 010ABC\n", 0), 0u) << R.Out;

    // The only one attached is taken even when another one is remembered.
    Sim("device A6012345\n");
    R = Run({Ok});
    EXPECT_EQ(R.ExitCode, 0) << R.Err;
    EXPECT_EQ(R.Out.rfind("Using KORVEX S/N 012345\n", 0), 0u) << R.Out;
}

TEST_F(Cli, ColoursOnATerminalUnlessNoColor) {
    // A comment that would retitle the terminal window if it reached the terminal raw.
    const std::string Bad = File("bad.svf", "! note\n! \033]0;owned\007\nSIR 8 TDI (FE);\n"
                                            "SDR 8 TDI (00) TDO (FF);\n");
    for (bool NoColor : {false, true}) {
        int Master = -1, Slave = -1;
        ASSERT_EQ(::openpty(&Master, &Slave, nullptr, nullptr, nullptr), 0);
        const pid_t Pid =
            Spawn({Bad}, Slave,
                  NoColor ? std::vector<std::pair<std::string, std::string>>{{"NO_COLOR", "1"}}
                          : std::vector<std::pair<std::string, std::string>>{});
        ::close(Slave);
        std::string Out;
        char Buffer[4096];
        for (ssize_t N; (N = ::read(Master, Buffer, sizeof Buffer)) > 0;)
            Out.append(Buffer, static_cast<size_t>(N)); // ends with EIO once the child is gone
        ::close(Master);
        EXPECT_EQ(Wait(Pid).ExitCode, 1);
        EXPECT_NE(Out.find("! ?]0;owned?"), std::string::npos) << Out;
        if (NoColor) {
            EXPECT_EQ(Out.find('\033'), std::string::npos) << Out;
        } else {
            EXPECT_NE(Out.find("\033[31m!! ERROR !! File processing failed\033[0m"),
                      std::string::npos)
                << Out;
            EXPECT_NE(Out.find("\033[90m! note\033[0m"), std::string::npos) << Out;
            EXPECT_EQ(Out.rfind("Using KORVEX S/N 012345\r\n", 0), 0u) << "black stays plain";
        }
    }
}

TEST_F(Cli, CtrlCCancelsAndClosesTheProgrammer) {
    std::string Long = "SIR 8 TDI (FE);\n";
    for (int I = 0; I < 200; ++I)
        Long += "RUNTEST 10000000 TCK;\n";
    const std::string F = File("long.svf", Long);
    // Device time passes as on a real programmer: the whole file would take at least 667 s.
    Sim("realtime 1\n");
    const pid_t Pid = Spawn({"--RTwCount", "0", "--PActive", "2", "--PInactive", "0", F});
    // Wait until the run is under way.
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ReadAll(Dir / "out.txt").find("Reading file") == std::string::npos &&
           std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(::kill(Pid, SIGINT), 0);
    const TResult R = Wait(Pid);
    EXPECT_EQ(R.ExitCode, 1) << R.Out << R.Err;
    EXPECT_NE(R.Out.find("!! ERROR !! File processing failed"), std::string::npos) << R.Out;
    // The closing bytes reached the device: VPP low (PInactive 0) after the run, then closed.
    const std::string Trace = ReadAll(Dir / "trace.txt");
    const auto Vpp = Trace.rfind("VPP 2");
    ASSERT_NE(Vpp, std::string::npos) << Trace;
    const auto Total = Trace.find("TOTAL", Vpp);
    ASSERT_NE(Total, std::string::npos) << Trace;
    // Cancelled, not played to the end: the device saw a few seconds of the file at most.
    long long Us = -1;
    ASSERT_EQ(std::sscanf(Trace.c_str() + Trace.find(" US ", Total), " US %lld", &Us), 1);
    EXPECT_LT(Us, 60'000'000) << Trace.substr(Total);
}

TEST_F(Cli, Version) {
    const TResult R = Run({"--version"});
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(R.Out, "korvex-cli 1.6\n");
}

TEST_F(Cli, ReaderGoneDoesNotAbandonTheRun) {
    // "korvex-cli f.svf | head -0": the lines cannot be written, the run still ends properly.
    const std::string Ok = File("ok.svf", IdcodeOk);
    int Pipe[2];
    ASSERT_EQ(::pipe(Pipe), 0);
    ::close(Pipe[0]);
    const TResult R = Wait(Spawn({Ok}, Pipe[1]));
    ::close(Pipe[1]);
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_NE(ReadAll(Dir / "trace.txt").find("TOTAL"), std::string::npos);
}

TEST_F(Cli, StopIsPromptDuringALongWaitOnADeviceInRealTime) {
    // The device keeps real time and takes only what its input buffer holds, as a real
    // programmer does: a RUNTEST of 2000 s must be cut short by Ctrl-C in every wait mode
    // (pauses, the slow clock, clocks at TCK), not queued to the end.
    for (const char* Mode : {"0", "1", "2"}) {
        SCOPED_TRACE(Mode);
        Sim("realtime 1\n");
        const std::string F = File("wait.svf", "STATE IDLE;\nRUNTEST 2000 SEC;\nSTATE RESET;\n");
        const pid_t Pid = Spawn({"--RTwTime", Mode, "--PActive", "2", "--PInactive", "0", F});
        const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (ReadAll(Dir / "out.txt").find("Reading file") == std::string::npos &&
               std::chrono::steady_clock::now() < Deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_EQ(::kill(Pid, SIGINT), 0);
        const TResult R = Wait(Pid);
        EXPECT_EQ(R.ExitCode, 1) << R.Out << R.Err;
        EXPECT_NE(R.Out.find("File processing cancelled"), std::string::npos) << R.Out;
        // The device's own clock: what it ran before the stop, the rest of the slice it held
        // and the closing bytes.
        const std::string Trace = ReadAll(Dir / "trace.txt");
        const auto Total = Trace.find("TOTAL ");
        ASSERT_NE(Total, std::string::npos) << Trace;
        const auto Us = Trace.find(" US ", Total);
        ASSERT_NE(Us, std::string::npos) << Trace;
        EXPECT_LT(std::stoll(Trace.substr(Us + 4)), 5000000) << Trace.substr(Total);
    }
}

TEST_F(Cli, CtrlCStopsAFileThatNeverEnds) {
    // 4 GB of NUL bytes (sparse, no disk taken) and an endless device: blanks to the reader,
    // which must still see the stop between blocks instead of reading to the end.
    const fs::path Sparse = Dir / "blank.svf";
    { std::ofstream(Sparse).flush(); }
    fs::resize_file(Sparse, std::uintmax_t{4} << 30);
    const fs::path Endless = Dir / "zero.svf";
    fs::create_symlink("/dev/zero", Endless);
    for (const fs::path& F : {Sparse, Endless}) {
        SCOPED_TRACE(F.string());
        const pid_t Pid = Spawn({F.string()});
        std::this_thread::sleep_for(std::chrono::seconds(1));
        ASSERT_EQ(::kill(Pid, SIGINT), 0);
        const auto Signalled = std::chrono::steady_clock::now();
        const TResult R = Wait(Pid);
        std::printf(
            "%s: ended %.3f s after SIGINT\n", F.filename().c_str(),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - Signalled).count());
        // A device may be refused before the run (2); a run that started must end cancelled.
        if (R.ExitCode == 2 && F == Endless)
            continue;
        EXPECT_EQ(R.ExitCode, 1) << R.Out << R.Err;
        EXPECT_NE(R.Out.find("File processing cancelled"), std::string::npos) << R.Out;
    }
}
