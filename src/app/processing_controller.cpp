#include "processing_controller.h"

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "chain_scan.h"
#include "file_check.h"
#include "line_exception.h"
#include "native_path.h"
#include "settings.h"

namespace {
// The path a run reports and hands to the player. An empty name stays empty: it has no extension,
// so the registry refuses it with a message a user understands.
std::string ExpandFileName(const std::string& Name) {
    if (Name.empty())
        return Name;
    std::error_code Ec;
    const auto Full = std::filesystem::absolute(platform::PathFromUtf8(Name), Ec);
    return Ec ? Name : platform::Utf8FromPath(Full.lexically_normal());
}
} // namespace

TProcessingController::TProcessingController(IControllerView& View) : Link(Driver), View(View) {
    Link.ChooseKorvex = [this] { return this->View.ChooseProgrammer(); };
    Link.ShowError = [this](const std::string& Text) { this->View.ShowError(Text); };
    Link.SetStatusText = [this](const std::string& Text) { this->View.SetStatusText(Text); };
    Link.QueueMessage = [this](const std::string& Text, uint8_t Severity) {
        Messages.QueueMessage(Text, Severity);
    };
}

TProcessingController::~TProcessingController() {
    // The worker uses the link; it must be gone before the link closes and is destroyed.
    if (Player) {
        Player->RequestTerminate();
        Link.RequestStop();
        Player.reset();
    }
    Link.CloseKorvex();
}

std::string TProcessingController::SerialHex(int32_t SerialNumber) {
    char Buffer[16];
    std::snprintf(Buffer, sizeof Buffer, "%06X", static_cast<uint32_t>(SerialNumber));
    return Buffer;
}

void TProcessingController::Configure(const std::string& ExecutablePath,
                                      const TSessionOptions& Session) {
    // SVF numbers such as 3E-3 and every number we print use "." whatever the user's locale (Qt
    // installs the user's locale when it starts).
    std::setlocale(LC_NUMERIC, "C");
    ExitCode = 0;
    AutoProcess = Session.AutoProcess;
    CloseOnSuccess = Session.CloseOnSuccess;
    CloseOnError = Session.CloseOnError;
    if (Session.FileName)
        LastFileName = *Session.FileName;
    IniFileName = SettingsFileNameFor(
        Session.IniFileName ? *Session.IniFileName
                            : DefaultSettingsFileName(ExecutablePath, Session.SettingsBaseName));
    Link.SerialNumber = Session.Serial ? ParseSerialNumber(*Session.Serial) : -1;
    FRequestedSerial = Link.SerialNumber;
    Player.reset();
    LoadSettings();
    TRunOptions O = Options();
    for (const auto& [Option, Value] : Session.OptionOverrides)
        Option->Set(O, Value);
    SetOptions(O);
}

bool TProcessingController::LoadDriver() {
    Driver.Choice = static_cast<TDriverChoice>(Options().Driver);
    if (Driver.LoadUSBDriver()) {
        View.SetDriverText(Driver.DriverDescription());
        return true;
    }
    // The box names each library tried and what was wrong with it (missing, or an entry point
    // it lacks).
    View.ShowError("USB drivers not found or bad version.\nTried " + Driver.LoadError());
    ExitCode = 2;
    View.Quit();
    return false;
}

std::string TProcessingController::NotPlayable(const std::string& FileName) {
    // A folder, a FIFO or a device named like a vector file would block the reader or never
    // end; it is refused before the programmer is touched.
    const std::string Path = ExpandFileName(FileName);
    std::error_code Ec;
    const auto Status = std::filesystem::status(platform::PathFromUtf8(Path), Ec);
    if (Ec || !std::filesystem::exists(Status) || std::filesystem::is_regular_file(Status))
        return {};
    return "Cannot play " + Path + ": not a regular file";
}

bool TProcessingController::StartRun(const std::string& FileName) {
    if (const std::string Problem = NotPlayable(FileName); !Problem.empty()) {
        View.ClearConsole();
        Messages.QueueMessage("Fatal error \"" + Problem + "\"", sevError);
        return false;
    }
    return SelectProgrammer() && RunFile(FileName);
}

bool TProcessingController::SelectProgrammer() {
    FUnattendedChoices = 0;
    return Link.FindKorvex();
}

bool TProcessingController::ChooseWithoutDialog() {
    // Discovery asks again when the choice is not unique (two programmers with one serial
    // number); without a dialog nothing new can be offered the second time.
    if (++FUnattendedChoices > 1)
        return false;
    const std::vector<TProgrammerEntry> Devices = Link.ListKorvexDevices();
    const std::string Attached = TKorvexLink::DescribeAttached(Devices);
    if (FRequestedSerial != -1) {
        View.ShowError("KORVEX S/N " + SerialHex(FRequestedSerial) +
                       " not found; attached: " + Attached);
        return false;
    }
    // Only a free programmer whose serial -S could name is taken without asking.
    std::vector<int32_t> Usable;
    for (const TProgrammerEntry& D : Devices)
        if (!D.InUse && D.Value != -1)
            Usable.push_back(D.Value);
    if (Usable.size() == 1) {
        Link.SerialNumber = Usable.front();
        return true;
    }
    if (Usable.empty()) {
        View.ShowError("no attached KORVEX can be used (S/N " + Attached + ")");
        return false;
    }
    View.ShowError("several KORVEX programmers are attached (S/N " + Attached +
                   "); choose one with -S");
    return false;
}

void TProcessingController::AbandonStart(std::unique_ptr<TJtagFile>& Started,
                                         const std::string& Report) {
    if (Started) {
        // A Start that failed half-way may have a worker running already.
        Started->RequestTerminate();
        Started.reset();
    }
    Player.reset();
    // Nothing will end this run on the timer, so the programmer is released now: VPP goes to its
    // after-run state instead of staying as the open left it until the next run.
    Link.CloseKorvex();
    Messages.QueueMessage(Report, sevError);
}

bool TProcessingController::RunFile(const std::string& FileName) {
    const std::string Path = ExpandFileName(FileName);
    View.ClearConsole();
    View.ProcessPendingEvents();
    if (!Link.OpenKorvex()) {
        Messages.QueueMessage("Fatal error: Cannot open KORVEX S/N " +
                                  SerialHex(Link.SerialNumber) + ": " + Link.OpenProblem(),
                              sevError);
        return false;
    }
    Messages.QueueMessage("Using KORVEX S/N " + SerialHex(Link.SerialNumber), sevInfo);
    Messages.QueueMessage("Reading file " + Path, sevInfo);

    std::unique_ptr<TJtagFile> Started;
    try {
        FLoading = true;
        FLoadCancelled = FStartCancelled = false;
        struct TLoadingEnds {
            bool& Loading;
            ~TLoadingEnds() { Loading = false; }
        } LoadingEnds{FLoading};
        Started = TJtagFilesList::Global().CreateForFile(ExtractFileExt(Path), Path, [this] {
            View.WhileLoading();
            return !FLoadCancelled;
        });
        TJtagEvents Events = Link.Events();
        Events.OnMessage = [this](const std::string& Text, uint8_t Severity) {
            Messages.QueueMessage(Text, Severity);
        };
        Link.Requested = {};
        Started->Events = Events;
        const TRunOptions O = Options();
        Started->EchoComments = O.WriteComments;
        Link.Frequency = TKorvexLink::DefaultFrequencyFor(O.DefFreq);
        FTimer.Start();
        Started->Start(Link.Frequency);
        Player = std::move(Started);
        FProgressMax = -1;
        return true;
    } catch (const ELoadCancelled& E) {
        FStartCancelled = true;
        ExitCode = 1;
        AbandonStart(Started, "Fatal error \"" + std::string(E.what()) + "\"");
    } catch (const ELineException& E) {
        AbandonStart(Started, "Fatal error \"" + std::string(E.what()) + "\" near line " +
                                  std::to_string(E.LineNumber) + "\r\n\"" + E.LineText + "\"");
    } catch (const std::exception& E) {
        AbandonStart(Started, "Fatal error \"" + std::string(E.what()) + "\"");
    }
    return false;
}

void TProcessingController::ProcessFile(const std::string& FileName) {
    if (Processing())
        return;
    LastFileName = FileName;
    StartRun(LastFileName);
}

void TProcessingController::ProcessLastFile() {
    if (!Processing())
        StartRun(LastFileName);
}

int TProcessingController::ScanChain() {
    if (Processing())
        return 2;
    View.ClearConsole();
    View.SetRunTime("", true); // the last run's time does not belong to the scan
    View.ProcessPendingEvents();
    if (!SelectProgrammer())
        return 2;
    Messages.QueueMessage("Using KORVEX S/N " + SerialHex(Link.SerialNumber), sevInfo);
    const TChainScan Scan =
        ScanChainThrough(Link, TKorvexLink::DefaultFrequencyFor(Options().DefFreq));
    for (const std::string& Line : ChainReportLines(Scan))
        Messages.QueueMessage(Line, !Scan.Ok                         ? sevError
                                    : Line.rfind("Warning:", 0) == 0 ? sevWarning
                                                                     : sevInfo);
    return Scan.Ok ? 0 : 1;
}

int TProcessingController::CheckVectorFile(const std::string& FileName) {
    if (Processing())
        return 2;
    View.ClearConsole();
    View.SetRunTime("", true);
    const TFileCheck Check = CheckFile(FileName, Options());
    const std::vector<std::string> Lines = FileCheckLines(FileName, Check);
    // A failed check: everything after the file's name is the error and its place.
    for (size_t I = 0; I < Lines.size(); ++I)
        Messages.QueueMessage(Lines[I], !Check.Ok && I > 0 ? sevError : sevInfo);
    return Check.Ok ? 0 : 1;
}

bool TProcessingController::CanProcessLastFile() const {
    std::error_code Ec;
    // A folder of that name is not a file to play.
    const auto Path = platform::PathFromUtf8(LastFileName);
    return !LastFileName.empty() && std::filesystem::exists(Path, Ec) &&
           !std::filesystem::is_directory(Path, Ec);
}

void TProcessingController::EndRun(int Status) {
    const bool Failed = Status == 1;
    if (Failed)
        Messages.QueueMessage("!! ERROR !! File processing failed", sevError);
    else {
        Messages.QueueMessage("File processing completed successfully", sevInfo);
        View.SetProgress(FProgressMax, FProgressMax);
    }
    LastRun = {Player->StatementsExecuted(), Link.Requested.Scans, Link.Requested.TckCycles,
               FTimer.ElapsedSeconds()};
    View.SetRunTime("Total time " + FormatDuration(LastRun.Seconds), true);
    // The worker has left its loop; joining it first keeps it away from a closing link.
    Player.reset();
    Link.CloseKorvex();
    ExitCode = Failed || FCancelled ? 1 : 0;
    if ((Failed ? CloseOnError : CloseOnSuccess) || FCancelled)
        FQuitRequested = true;
}

void TProcessingController::Cancel() {
    FCancelled = true;
    AutoProcess = false;
    ExitCode = 1;
    // Whatever is under way stops as for the Stop command: a load, the player and a wait of hours
    // in progress. A run's end closes the programmer and asks the view to quit; without a run the
    // view quits at the next poll (a cancelled load closes the programmer at once).
    Stop();
    if (!Player)
        FQuitRequested = true;
}

void TProcessingController::Poll() {
    // The front end's timer may fire while a file is read for a run: the lines so far are shown,
    // everything else waits until the start has finished.
    if (!FLoading && !Processing() && AutoProcess) {
        AutoProcess = false; // fires once; a later "&Process Last File" is a manual run
        if (!StartRun(LastFileName)) {
            ExitCode = FStartCancelled ? 1 : 2; // a cancelled load is a cancelled run
            if (CloseOnError)
                FQuitRequested = true;
        }
    }

    if (Player && !FLoading) {
        const int64_t Max = Player->ProgressMax();
        if (Max != FProgressMax)
            FProgressMax = Max;
        View.SetProgress(FProgressMax, Player->Progress());
        View.SetRunTime(FTimer.Text(Player->Progress(), FProgressMax), false);
        const int Status = Player->Status();
        if (Status == 1 || Status == 2)
            EndRun(Status);
    }

    std::vector<TConsoleLine> Lines;
    Messages.DrainMessages([&](const TConsoleLine& L) { Lines.push_back(L); });
    if (!Lines.empty())
        View.AppendConsoleLines(Lines);

    // Closing comes after the drain, so the outcome line reaches the console (or the terminal)
    // before the front end goes away.
    if (FQuitRequested && !FLoading) {
        FQuitRequested = false;
        View.Quit();
    }
}

void TProcessingController::Stop() {
    if (FLoading)
        FLoadCancelled = true;
    if (Player)
        Player->RequestTerminate();
    // A wait or clock run in progress stops too, not only the player's next statement.
    Link.RequestStop();
}

bool TProcessingController::CanClose() {
    if (!Processing())
        return true;
    View.ShowError("Please wait until file processing is done.");
    return false;
}

bool TProcessingController::SaveSettings(const std::function<void(TIniFile&)>& WriteMore) {
    try {
        WriteSettingsFile(WriteMore);
        return true;
    } catch (const std::exception& E) {
        View.ShowError(E.what());
        return false;
    }
}

void TProcessingController::LoadSettings() {
    const TSettings S = ReadSettings(IniFileName);
    SetOptions(S.Options);
    if (Link.SerialNumber == -1)
        Link.SerialNumber = S.LastSerial;
}

void TProcessingController::WriteSettingsFile(const std::function<void(TIniFile&)>& WriteMore) {
    WriteSettings(IniFileName, TSettings{Options(), Link.SerialNumber}, WriteMore);
}

TOpenDialogFilter TProcessingController::OpenDialogFilter() const {
    return BuildOpenDialogFilter(TJtagFilesList::Global());
}
