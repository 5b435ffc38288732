// The processing controller on the simulated programmer, with a view that records what a window
// would show.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include <sys/stat.h>

#include "driver_env.h"
#include "line_exception.h"
#include "processing_controller.h"
#include "scratch.h"
#include "settings.h"

namespace fs = std::filesystem;

namespace {
struct TRecordingView : IControllerView {
    struct TEvent {
        char Kind; // 'C' cleared, 'L' a console line
        TConsoleLine Line;
    };
    std::vector<TEvent> Events;
    std::vector<std::string> Errors;
    int Closes = 0;
    int64_t Max = -1, Position = -1;
    // The selection dialog: OK on the first programmer listed, as a user would pick it.
    bool ChooseResult = true;
    TProcessingController* Controller = nullptr;
    int Chosen = 0;

    void ClearConsole() override { Events.push_back({'C', {}}); }
    void ProcessPendingEvents() override {}
    std::function<void()> Loading; // what the front end does while a file is read for a run
    int LoadingCalls = 0;
    void WhileLoading() override {
        ++LoadingCalls;
        if (Loading)
            Loading();
    }
    void AppendConsoleLines(const std::vector<TConsoleLine>& Lines) override {
        for (const auto& L : Lines)
            Events.push_back({'L', L});
    }
    void SetProgress(int64_t M, int64_t P) override {
        Max = M;
        Position = P;
    }
    void Quit() override { ++Closes; }
    void ShowError(const std::string& Text) override { Errors.push_back(Text); }
    bool ChooseProgrammer() override {
        ++Chosen;
        if (!ChooseResult)
            return false;
        const auto Serials = Controller->Link.ListKorvexSerials();
        Controller->Link.SerialNumber = Serials.empty() ? -1 : Serials[0] | 0xA6000000;
        return true;
    }
    void SetStatusText(const std::string&) override {}

    // The console as it stands: the lines since the last clear.
    std::vector<TConsoleLine> Console() const {
        std::vector<TConsoleLine> Out;
        for (const auto& E : Events) {
            if (E.Kind == 'C')
                Out.clear();
            else
                Out.push_back(E.Line);
        }
        return Out;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> Out;
        for (const auto& L : Console())
            Out.push_back(L.Text);
        return Out;
    }
};

const char* const IdcodeOk =
    "SIR 8 TDI (FE);\nSDR 32 TDI (00000000) TDO (0A6B5093) MASK (FFFFFFFF);\n";

class Controller : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterPlayers();
        Sim("");
        Exe = (Dir / "korvex-player").string();
    }
    void TearDown() override { C.reset(); }
    // A simulator scenario (lines of its configuration file) with the trace switched on.
    void Sim(const std::string& Config) { Scenario.Use(Config); }
    std::string File(const std::string& Name, const std::string& Text) {
        return Scratch.Write(Name, Text);
    }
    std::string Trace() const { return Scenario.Trace(); }
    TProcessingController& Start(const std::vector<std::string>& Args) {
        C = std::make_unique<TProcessingController>(View);
        View.Controller = C.get();
        C->Configure(Exe, ParseCommandLine(Args));
        EXPECT_TRUE(C->LoadDriver());
        return *C;
    }
    // Ticks until nothing is being processed and nothing is pending.
    void Tick() {
        const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        do {
            C->Poll();
            if (C->Processing())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        } while ((C->Processing() || C->AutoProcess) &&
                 std::chrono::steady_clock::now() < Deadline);
        ASSERT_FALSE(C->Processing()) << "run did not end";
    }

    TScratchFolder Scratch{"controller"};
    TSimScenario Scenario{Scratch};
    fs::path Dir{Scratch.Path()};
    std::string Exe;
    TRecordingView View;
    std::unique_ptr<TProcessingController> C;
};
} // namespace

TEST_F(Controller, SuccessfulRunReportsInOrderAndClosesWithC) {
    const std::string F = File("ok.svf", IdcodeOk);
    Start({"-P", "-F", F, "-C"});
    Tick();
    EXPECT_EQ(C->ExitCode, 0);
    EXPECT_EQ(View.Closes, 1);
    ASSERT_FALSE(View.Events.empty());
    EXPECT_EQ(View.Events.front().Kind, 'C') << "the console is cleared before anything is shown";
    const auto T = View.Texts();
    ASSERT_EQ(T.size(), 3u);
    EXPECT_EQ(T[0], "Using KORVEX S/N 012345");
    EXPECT_EQ(T[1], "Reading file " + F);
    EXPECT_EQ(T[2], "File processing completed successfully");
    EXPECT_EQ(View.Console()[2].Severity, sevInfo);
    EXPECT_EQ(View.Position, View.Max);
    EXPECT_GT(View.Max, 0);
    EXPECT_NE(Trace().find("SHIFT DR 32 TDI 00000000 TDO 0A6B5093"), std::string::npos);
    EXPECT_FALSE(C->Link.Connected());
}

TEST_F(Controller, FailedRunShowsWorkerLinesBeforeTheOutcome) {
    // The mismatch report comes from the worker; the outcome line must follow all of it.
    const std::string F =
        File("bad.svf", "! first\nSIR 8 TDI (FE);\n! second\n"
                        "SDR 32 TDI (00000000) TDO (1A6B5093) MASK (FFFFFFFF);\n");
    Start({"-P", "-F", F, "-CC"});
    Tick();
    EXPECT_EQ(C->ExitCode, 1);
    EXPECT_EQ(View.Closes, 1);
    const auto Lines = View.Console();
    ASSERT_GE(Lines.size(), 6u);
    EXPECT_EQ(Lines[2].Text, "! first");
    EXPECT_EQ(Lines[2].Severity, sevComment);
    EXPECT_EQ(Lines[3].Text, "! second");
    EXPECT_EQ(Lines.back().Text, "!! ERROR !! File processing failed");
    EXPECT_EQ(Lines.back().Severity, sevError);
    for (size_t I = 4; I + 1 < Lines.size(); ++I)
        EXPECT_NE(Lines[I].Text, "!! ERROR !! File processing failed");
    EXPECT_FALSE(C->Link.Connected());
}

TEST_F(Controller, LineErrorIsTwoConsoleLines) {
    const std::string F = File("syntax.svf", "SIR 8 TDI (FE);\nFOO 1;\n");
    Start({"-P", "-F", F});
    Tick();
    EXPECT_EQ(C->ExitCode, 1);
    EXPECT_EQ(View.Closes, 0) << "neither -C nor -CC: the window stays";
    const auto Lines = View.Console();
    ASSERT_EQ(Lines.size(), 5u);
    EXPECT_EQ(Lines[2].Text.rfind("Fatal error ", 0), 0u) << Lines[2].Text;
    EXPECT_NE(Lines[2].Text.find(" near line 2"), std::string::npos) << Lines[2].Text;
    EXPECT_EQ(Lines[3].Text, "\"FOO 1;\"");
    EXPECT_EQ(Lines[3].Severity, sevError);
    EXPECT_EQ(Lines[4].Text, "!! ERROR !! File processing failed");
}

// The XSVF pre-scan reads the whole file before the run; for a large file that takes seconds, and a
// Stop or a signal heard meanwhile ends it at once as a cancelled run (exit code 1), with the
// programmer closed. The front end's timer firing inside the load does nothing.
TEST_F(Controller, StopWhileAFileIsReadBeforeItsRun) {
    // 200,000 XSTATE commands, then XCOMPLETE: a pre-scan of 200,000 steps.
    std::string Xstates;
    for (int I = 0; I < 200000; ++I)
        Xstates += "\x12\x01";
    const std::string F = File("long.xsvf", Xstates + std::string(1, '\0'));
    for (const bool Signal : {false, true}) {
        SCOPED_TRACE(Signal ? "Cancel" : "Stop");
        Start({"-P", "-F", F});
        bool ProcessingMeanwhile = false;
        View.LoadingCalls = 0;
        View.Loading = [&] {
            ProcessingMeanwhile = C->Processing();
            C->Poll(); // the front end's timer
            Signal ? C->Cancel() : C->Stop();
        };
        Tick();
        View.Loading = nullptr;
        EXPECT_TRUE(ProcessingMeanwhile);
        EXPECT_EQ(View.LoadingCalls, 1);
        EXPECT_EQ(C->ExitCode, 1);
        EXPECT_EQ(View.Closes, Signal ? 1 : 0);
        EXPECT_EQ(View.Texts().back(), "Fatal error \"Reading the file was cancelled\"");
        EXPECT_FALSE(C->Link.Connected());
        View.Closes = 0;
    }
}

TEST_F(Controller, LineErrorWhileCreatingThePlayer) {
    // A player whose constructor finds a bad line (as a pre-scan would): RunFile reports it in its
    // own form, and the programmer opened for the run is closed again at once.
    const TRegistryRestorer Restore;
    TJtagFilesList::Global().Register(
        "LNE", [](const std::string&, const TKeepLoading&) -> std::unique_ptr<TJtagFile> {
            throw ELineException("Bad statement", 6, "  XSDR 12;");
        });
    const std::string F = File("x.lne", "");
    Start({"-F", F, "-P", "-CC"});
    Tick();
    EXPECT_EQ(C->ExitCode, 2);
    EXPECT_EQ(View.Closes, 1);
    const auto Lines = View.Console();
    ASSERT_EQ(Lines.size(), 4u);
    EXPECT_EQ(Lines[2].Text, "Fatal error \"Bad statement\" near line 7");
    EXPECT_EQ(Lines[3].Text, "\"  XSDR 12;\"");
    EXPECT_EQ(Lines[3].Severity, sevError);
    EXPECT_FALSE(C->Link.Connected());
    EXPECT_NE(Trace().find("TOTAL"), std::string::npos) << "closed, not left open";
    // The start byte went out before the closing bytes: the device saw a whole connection.
    EXPECT_EQ(Trace().find("ERROR"), std::string::npos) << Trace();
}

TEST_F(Controller, AutoProcessWithoutFileEndsWithTheFileTypeError) {
    Start({"-P", "-CC"});
    Tick();
    EXPECT_EQ(C->ExitCode, 2);
    EXPECT_EQ(View.Closes, 1);
    const auto T = View.Texts();
    ASSERT_EQ(T.size(), 3u);
    EXPECT_EQ(T[1], "Reading file ");
    EXPECT_EQ(T[2], "Fatal error \"No registered class for file type \"\"\"");
    EXPECT_FALSE(C->Link.Connected()) << "a run that did not start leaves no connection open";
    // The automatic processing fires once.
    C->Poll();
    EXPECT_EQ(View.Closes, 1);
}

TEST_F(Controller, CloseFlagsActAlone) {
    const std::string Good = File("ok.svf", IdcodeOk);
    const std::string Bad = File("bad.svf", "SIR 8 TDI (FE);\nSDR 8 TDI (00) TDO (FF);\n");
    const struct {
        const char* Flag;
        std::string File;
        uint8_t ExitCode;
        int Closes;
    } Rows[] = {
        {"-C", Bad, 1, 0},  {"-C", Good, 0, 1},           {"-CC", Good, 0, 0},
        {"-CC", Bad, 1, 1}, {"-cc", "missing.svf", 2, 1}, // the registry finds SVF, the file cannot
                                                          // be opened
    };
    for (const auto& R : Rows) {
        SCOPED_TRACE(std::string(R.Flag) + " " + R.File);
        View = TRecordingView{};
        Start({"-P", "-F", R.File, R.Flag});
        Tick();
        EXPECT_EQ(C->ExitCode, R.ExitCode);
        EXPECT_EQ(View.Closes, R.Closes);
    }
}

TEST_F(Controller, ConsoleClearedForEveryRunThatGetsPastDiscovery) {
    const std::string F = File("ok.svf", IdcodeOk);
    Start({"-F", Dir.string()});
    EXPECT_FALSE(C->CanProcessLastFile()) << "a folder is not a file to play";
    C->LastFileName = F;
    EXPECT_TRUE(C->CanProcessLastFile());
    C->ProcessLastFile();
    Tick();
    C->ProcessLastFile();
    Tick();
    int Clears = 0;
    for (const auto& E : View.Events)
        Clears += E.Kind == 'C';
    EXPECT_EQ(Clears, 2);
    EXPECT_EQ(View.Texts().size(), 3u) << "only the second run's lines remain";
    // No programmer: discovery fails with its box and the console keeps the last run.
    Sim("no_devices\n");
    C->ProcessLastFile();
    Tick();
    EXPECT_EQ(View.Errors, std::vector<std::string>{"KORVEX not found"});
    EXPECT_EQ(View.Texts().size(), 3u);
}

TEST_F(Controller, CannotOpenKorvex) {
    const std::string F = File("ok.svf", IdcodeOk);
    Start({"-F", F});
    ASSERT_TRUE(C->SelectProgrammer());
    // Another program takes the programmer between discovery and the open.
    Sim("device A6012345 refuse\n");
    EXPECT_FALSE(C->RunFile(F));
    C->Poll();
    // D2XX cannot read a held device's serial ("..., or not attached"); libftdi can.
    ASSERT_EQ(View.Texts().size(), 1u);
    EXPECT_EQ(View.Texts()[0].rfind(
                  "Fatal error: Cannot open KORVEX S/N 012345: in use by another program", 0),
              0u)
        << View.Texts()[0];
    EXPECT_EQ(View.Console()[0].Severity, sevError);
}

TEST_F(Controller, SettingsFromIniBesideDashI) {
    // -I names a .cfg: the .ini of the same name is read and written.
    const std::string Cfg = (Dir / "line7.cfg").string();
    File("line7.ini", "[Params]\nDefFreq=7\nLastSerial=4660\nWriteComments=0\n");
    const std::string F = File("c.svf", std::string("! hidden\n") + IdcodeOk);
    Start({"-I", Cfg, "-F", F});
    EXPECT_EQ(C->IniFileName, (Dir / "line7.ini").string());
    EXPECT_EQ(C->Link.SerialNumber, 4660);
    EXPECT_FALSE(C->Options().WriteComments);
    // The remembered programmer is not attached and the dialog is cancelled: nothing runs.
    View.ChooseResult = false;
    C->ProcessLastFile();
    EXPECT_EQ(View.Chosen, 1);
    EXPECT_FALSE(C->Processing());
    // Choosing the attached one runs the file; DefFreq 7 plays at 750 kHz, comments stay away.
    View.ChooseResult = true;
    C->ProcessLastFile();
    Tick();
    EXPECT_EQ(C->ExitCode, 0);
    EXPECT_EQ(C->Link.Frequency, 750000);
    EXPECT_NE(Trace().find("FREQ 750000"), std::string::npos);
    for (const auto& L : View.Console())
        EXPECT_NE(L.Severity, sevComment) << L.Text;
    EXPECT_TRUE(C->SaveSettings());
    EXPECT_FALSE(fs::exists(Cfg));
    const TSettings S = ReadSettings((Dir / "line7.ini").string());
    EXPECT_EQ(S.LastSerial, 0x012345);
    EXPECT_EQ(S.Options.DefFreq, 7);
    EXPECT_FALSE(S.Options.WriteComments);
}

TEST_F(Controller, DashSWinsOverLastSerialAndUnwritableSettingsStillClose) {
    File("korvex-player.ini", "[Params]\nLastSerial=1\n");
    Start({"-s", "00abcd"});
    EXPECT_EQ(C->Link.SerialNumber, 0xABCD);
    C.reset();
    Start({"-S", "nothex"});
    EXPECT_EQ(C->Link.SerialNumber, 1);
    // The settings file cannot be written: the user is told and closing goes on.
    fs::remove(Dir / "korvex-player.ini");
    fs::create_directories(Dir / "korvex-player.ini");
    EXPECT_FALSE(C->SaveSettings());
    ASSERT_EQ(View.Errors.size(), 1u);
    EXPECT_NE(View.Errors[0].find("korvex-player.ini"), std::string::npos);
}

TEST_F(Controller, StopDuringARunClosesTheProgrammerAndFails) {
    std::string Long = "SIR 8 TDI (FE);\n";
    for (int I = 0; I < 200; ++I)
        Long += "RUNTEST 10000000 TCK;\n";
    const std::string F = File("long.svf", Long);
    Start({"-F", F});
    C->Link.UpdateOptions([](TRunOptions& O) {
        O.RTwCount = 0;
    }); // plain clocks: the simulator has to step every one of them
    C->Link.UpdateOptions([](TRunOptions& O) { O.PInactive = 0; });
    C->ProcessLastFile();
    ASSERT_TRUE(C->Processing());
    EXPECT_FALSE(C->CanClose());
    EXPECT_EQ(View.Errors, std::vector<std::string>{"Please wait until file processing is done."});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    C->Stop();
    Tick();
    EXPECT_EQ(C->ExitCode, 1);
    EXPECT_EQ(View.Texts().back(), "!! ERROR !! File processing failed");
    EXPECT_TRUE(C->CanClose());
    // The closing bytes went out: VPP driven low (PInactive 0), then the device was closed.
    const std::string T = Trace();
    const auto Vpp = T.rfind("VPP 2");
    ASSERT_NE(Vpp, std::string::npos) << T;
    EXPECT_NE(T.find("TOTAL", Vpp), std::string::npos);
}

TEST_F(Controller, MissingDriverEndsWithExitCode2) {
    korvextest::UseDriverLibrary((Dir / "no-such-library.so").string());
    C = std::make_unique<TProcessingController>(View);
    C->Configure(Exe, TSessionOptions{});
    EXPECT_FALSE(C->LoadDriver());
    EXPECT_EQ(C->ExitCode, 2);
    EXPECT_EQ(View.Closes, 1);
    // The box names what was tried.
    ASSERT_EQ(View.Errors.size(), 1u);
    EXPECT_EQ(View.Errors[0].rfind("USB drivers not found or bad version.\nTried ", 0), 0u)
        << View.Errors[0];
    EXPECT_NE(View.Errors[0].find("no-such-library.so"), std::string::npos) << View.Errors[0];
}

TEST_F(Controller, BothPlayersRegisteredSvfFirst) {
    RegisterPlayers(); // a second call registers nothing more
    const auto& Records = TJtagFilesList::Global().Records();
    ASSERT_GE(Records.size(), 2u);
    EXPECT_EQ(Records[0].TypeName, "SVF");
    EXPECT_EQ(Records[1].TypeName, "XSVF");
    EXPECT_TRUE(Records.size() == 2 || Records[2].TypeName != "SVF");
    Start({});
    const TOpenDialogFilter F = C->OpenDialogFilter();
    EXPECT_EQ(F.Filter.rfind("SVF files (*.svf)|*.SVF|XSVF files (*.xsvf)|*.XSVF|", 0), 0u)
        << F.Filter;
    EXPECT_EQ(F.FilterIndex, static_cast<int>(Records.size()) + 1);
}

TEST_F(Controller, NotARegularFileIsRefusedBeforeTheProgrammerIsOpened) {
    // Folders, FIFOs and devices named like vector files, SVF and XSVF alike.
    fs::create_directories(Dir / "folder.svf");
    fs::create_directories(Dir / "folder.xsvf");
#ifdef _WIN32 // no FIFOs or device files in a Windows folder
    for (const char* Name : {"folder.svf", "folder.xsvf"}) {
#else
    ASSERT_EQ(::mkfifo((Dir / "pipe.svf").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((Dir / "pipe.xsvf").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", Dir / "zero.svf");
    fs::create_symlink("/dev/null", Dir / "null.xsvf");
    for (const char* Name :
         {"folder.svf", "folder.xsvf", "pipe.svf", "pipe.xsvf", "zero.svf", "null.xsvf"}) {
#endif
        SCOPED_TRACE(Name);
        Sim("");
        View.Events.clear();
        Start({"-F", (Dir / Name).string(), "-P", "-CC", "-S", "012345"});
        Tick();
        EXPECT_EQ(C->ExitCode, 2);
        EXPECT_EQ(View.Closes, 1);
        View.Closes = 0;
        EXPECT_EQ(View.Texts(),
                  std::vector<std::string>{"Fatal error \"Cannot play " + (Dir / Name).string() +
                                           ": not a regular file\""});
        EXPECT_EQ(Trace(), "") << "no byte reached the programmer";
    }
}
