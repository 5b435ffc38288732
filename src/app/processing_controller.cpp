#include "processing_controller.h"

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "line_exception.h"
#include "settings.h"

namespace {
// The path a run reports and hands to the player. An empty name stays empty: it has no extension,
// so the registry refuses it with a message a user understands.
std::string ExpandFileName(const std::string& Name) {
    if (Name.empty())
        return Name;
    std::error_code Ec;
    const auto Full = std::filesystem::absolute(Name, Ec);
    return Ec ? Name : Full.lexically_normal().string();
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
    View.ShowError("USB drivers not found or bad version.\nTried " + Driver.LoadError());
    ExitCode = 2;
    View.Quit();
    return false;
}

bool TProcessingController::SelectProgrammer() {
    return Link.FindKorvex();
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
        Messages.QueueMessage("Fatal error: Cannot open KORVEX", sevError);
        return false;
    }
    Messages.QueueMessage("Using KORVEX S/N " + SerialHex(Link.SerialNumber), sevInfo);
    Messages.QueueMessage("Reading file " + Path, sevInfo);

    std::unique_ptr<TJtagFile> Started;
    try {
        Started = TJtagFilesList::Global().CreateForFile(ExtractFileExt(Path), Path);
        TJtagEvents Events = Link.Events();
        Events.OnMessage = [this](const std::string& Text, uint8_t Severity) {
            Messages.QueueMessage(Text, Severity);
        };
        Started->Events = Events;
        const TRunOptions O = Options();
        Started->EchoComments = O.WriteComments;
        Link.Frequency = TKorvexLink::DefaultFrequencyFor(O.DefFreq);
        Started->Start(Link.Frequency);
        Player = std::move(Started);
        FProgressMax = -1;
        return true;
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
    if (SelectProgrammer())
        RunFile(LastFileName);
}

void TProcessingController::ProcessLastFile() {
    if (!Processing() && SelectProgrammer())
        RunFile(LastFileName);
}

bool TProcessingController::CanProcessLastFile() const {
    std::error_code Ec;
    // A folder of that name is not a file to play.
    return !LastFileName.empty() && std::filesystem::exists(LastFileName, Ec) &&
           !std::filesystem::is_directory(LastFileName, Ec);
}

void TProcessingController::EndRun(int Status) {
    const bool Failed = Status == 1;
    if (Failed)
        Messages.QueueMessage("!! ERROR !! File processing failed", sevError);
    else {
        Messages.QueueMessage("File processing completed successfully", sevInfo);
        View.SetProgress(FProgressMax, FProgressMax);
    }
    // The worker has left its loop; joining it first keeps it away from a closing link.
    Player.reset();
    Link.CloseKorvex();
    ExitCode = Failed ? 1 : 0;
    if (Failed ? CloseOnError : CloseOnSuccess)
        FQuitRequested = true;
}

void TProcessingController::Poll() {
    if (!Processing() && AutoProcess) {
        AutoProcess = false; // fires once; a later "&Process Last File" is a manual run
        if (!(SelectProgrammer() && RunFile(LastFileName))) {
            ExitCode = 2;
            if (CloseOnError)
                FQuitRequested = true;
        }
    }

    if (Player) {
        const int64_t Max = Player->ProgressMax();
        if (Max != FProgressMax)
            FProgressMax = Max;
        View.SetProgress(FProgressMax, Player->Progress());
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
    if (FQuitRequested) {
        FQuitRequested = false;
        View.Quit();
    }
}

void TProcessingController::Stop() {
    if (Player)
        Player->RequestTerminate();
}

bool TProcessingController::CanClose() {
    if (!Processing())
        return true;
    View.ShowError("Please wait until file processing is done.");
    return false;
}

bool TProcessingController::SaveSettings() {
    try {
        WriteSettingsFile();
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

void TProcessingController::WriteSettingsFile() {
    WriteSettings(IniFileName, TSettings{Options(), Link.SerialNumber});
}

TOpenDialogFilter TProcessingController::OpenDialogFilter() const {
    return BuildOpenDialogFilter(TJtagFilesList::Global());
}
