// korvex-cli: plays one SVF or XSVF file on the attached KORVEX programmer (or the simulator) from
// a terminal or a script, and ends with the exit code the desktop program would give: 0 = played
// without errors, 1 = the run failed or was cancelled, 2 = the run did not start.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <thread>

#include <CLI/CLI.hpp>

#include "bench_options.h"
#include "command_line.h"
#include "native_console.h"
#include "native_process.h"
#include "player_registration.h"
#include "processing_controller.h"
#include "run_options.h"
#include "terminal_view.h"

#ifndef KORVEX_PRODUCT_VERSION
#define KORVEX_PRODUCT_VERSION ""
#endif

namespace {
// Set by the first Ctrl-C (Ctrl-Break, a kill, the terminal going away): the run is cancelled and
// the programmer closed properly, so VPP ends in its after-run state instead of wherever the run
// left it. A second one ends the program at once.
std::atomic<bool> StopRequested{false};
} // namespace

int main(int argc, char** argv) {
    CLI::App App{"Plays an SVF or XSVF file into a target's JTAG port through the KORVEX USB "
                 "programmer.\nExit codes: 0 = played without errors, 1 = the run failed or was "
                 "cancelled, 2 = the run did not start.",
                 "korvex-cli"};
    App.option_defaults()->ignore_case();
    // Options are "-x" and "--name" on every system: CLI11 would take "/name" as an option on
    // Windows, and a file given as "/boards/a.svf" (the current drive's root) would be refused.
    App.allow_windows_style_options(false);
    std::string FileName;
    std::optional<std::string> Serial, IniFile;
    bool List = false;
    App.add_option("file", FileName, "The SVF (.svf) or XSVF (.xsvf) file to play");
    App.add_option("-S,--serial,--LastSerial", Serial,
                   "Programmer serial number, hexadecimal (as --list shows it)");
    App.add_option("-I,--ini", IniFile,
                   "Settings file (its extension becomes .ini); default: korvex-player.ini "
                   "beside this program, or in ~/.config/korvex (Windows: %APPDATA%\\korvex) "
                   "when that folder is not writable");
    App.add_flag("--list", List, "List the serial numbers of the attached programmers and exit");
    TBenchOptions Bench;
    AddBenchOptions(App, Bench);
    App.set_version_flag("--version", std::string("korvex-cli ") + KORVEX_PRODUCT_VERSION);
    // Every run option can be given for this run, named by its settings file key.
    auto* Group = App.add_option_group("Settings for this run (the settings file is not changed)");
    std::vector<std::optional<int32_t>> Overrides(RunOptions().size());
    for (size_t I = 0; I < RunOptions().size(); ++I) {
        const TRunOptionInfo& Option = RunOptions()[I];
        auto* Added = Group->add_option(std::string("--") + Option.Key, Overrides[I], Option.Help);
        if (Option.ValueNames) {
            std::map<std::string, int32_t> Names;
            for (int32_t V = Option.Min; V <= Option.Max; ++V)
                Names[Option.ValueNames[V - Option.Min]] = V;
            Added->transform(CLI::CheckedTransformer(Names, CLI::ignore_case));
        } else {
            Added->check(CLI::Range(Option.Min, Option.Max));
        }
    }
    try {
        // UTF-8 arguments on every system: a file name in any script reaches the player whole.
        std::vector<std::string> Args = platform::Utf8Arguments(argc, argv);
        if (!Args.empty())
            Args.erase(Args.begin());           // the program's name
        std::reverse(Args.begin(), Args.end()); // CLI11 takes them last first
        App.parse(std::move(Args));
    } catch (const CLI::Success& E) { // --help, --version
        return App.exit(E);
    } catch (const CLI::ParseError& E) {
        App.exit(E);
        return 2; // nothing was played
    }
    if (!List && !Bench.Detect && Bench.CheckFile.empty() && FileName.empty()) {
        std::fprintf(stderr, "korvex-cli: no file given\n%s", App.help().c_str());
        return 2;
    }

    // With --json standard output carries the JSON object alone.
    TTerminalView View(Bench.Json ? stderr : stdout, stderr);
    if (Serial) {
        if (ParseSerialNumber(*Serial) == -1) {
            View.Note("korvex-cli: -S " + *Serial + " is not a hexadecimal serial number");
            return 2;
        }
    }

    RegisterPlayers();
    TProcessingController Controller(View);
    View.Controller = &Controller;
    TSessionOptions Session;
    Session.AutoProcess = !Bench.Detect && Bench.CheckFile.empty();
    Session.CloseOnSuccess = Session.CloseOnError = true;
    Session.FileName = FileName;
    Session.IniFileName = IniFile;
    Session.Serial = Serial;
    // Installed next to the desktop program, both use its settings file.
    Session.SettingsBaseName = "korvex-player";
    for (size_t I = 0; I < Overrides.size(); ++I)
        if (Overrides[I])
            Session.OptionOverrides.emplace_back(&RunOptions()[I], *Overrides[I]);
    Controller.Configure(platform::ExecutablePath(argv[0]), Session);

    // The check needs neither driver nor programmer; its report comes out at the poll.
    if (!Bench.CheckFile.empty()) {
        const int Result = Controller.CheckVectorFile(Bench.CheckFile);
        Controller.Poll();
        return Result;
    }

    // A run's transcript (--log) and report (--json); the report is printed on every way out.
    // Only asked for: the report hashes the whole file before the run.
    const bool Recording = !List && !Bench.Detect && (Bench.Json || !Bench.LogFile.empty());
    TRunRecorder Recorder(Recording ? Bench.LogFile : "");
    std::string LogProblem;
    if (Recording) {
        LogProblem = Recorder.Begin(FileName, "korvex-cli " + FileName);
        View.OnLine = [&Recorder](const TConsoleLine& L) { Recorder.Line(L.Text, L.Severity); };
    }
    auto Finish = [&](int ExitCode) {
        if (!Recording)
            return ExitCode;
        const auto& Run = Controller.LastRun;
        Recorder.SetProgrammer(Controller.Link.SerialNumber == -1
                                   ? ""
                                   : TProcessingController::SerialHex(Controller.Link.SerialNumber),
                               TUsbDriver::LibraryName());
        const TRunReport& Report =
            Recorder.Finish(ExitCode, Run.Statements, Run.Scans, Run.TckCycles);
        if (Bench.Json) {
            std::printf("%s\n", RunReportJson(Report).c_str());
            std::fflush(stdout);
        }
        return ExitCode;
    };

    if (!LogProblem.empty()) {
        // Refused before the programmer is touched: a production line keeps its records.
        View.Note("korvex-cli: " + LogProblem);
        return Finish(2);
    }
    if (!Controller.LoadDriver())
        return Finish(Controller.ExitCode);

    if (Bench.Detect) {
        const int Result = Controller.ScanChain();
        Controller.Poll();
        return Result;
    }

    if (List) {
        // The serial numbers alone go to standard output, for scripts.
        View.Note("korvex-cli: USB driver " + Controller.Driver.DriverDescription());
        // One line per programmer that -S can name, "in use" after it when another program
        // holds it; what -S cannot name is said on standard error.
        const std::vector<TProgrammerEntry> Devices = Controller.Link.ListKorvexDevices();
        for (const TProgrammerEntry& D : Devices) {
            if (D.Serial.empty())
                View.Note("korvex-cli: an FTDI device is in use by another program; its serial "
                          "number cannot be read until that program lets it go");
            else if (D.Value == -1)
                View.Note("korvex-cli: a KORVEX with serial number \"" + D.Serial +
                          "\" is attached; it is not hexadecimal, so it cannot be chosen");
            else
                std::printf("%s%s\n", TProcessingController::SerialHex(D.Value).c_str(),
                            D.InUse ? "\tin use" : "");
        }
        if (Devices.empty())
            View.Note("korvex-cli: KORVEX not found");
        return 0;
    }

    platform::InstallStopHandler(StopRequested);
    View.OnLoading = [&Controller] {
        if (StopRequested.load())
            Controller.Cancel();
    };
    bool StopPassed = false;
    while (!View.Closed) {
        if (StopRequested.load() && !StopPassed) {
            StopPassed = true;
            if (!Controller.Processing()) // cancelled before the run began
                return Finish(1);
            View.Note("korvex-cli: cancelling: the programmer is closed after the current step");
            Controller.Stop();
        }
        Controller.Poll();
        // The run's lines and progress every 50 ms, and its end as soon as it comes.
        if (!View.Closed)
            Controller.WaitForNextPoll(std::chrono::milliseconds(50));
    }
    return Finish(Controller.ExitCode);
}
