#include "file_check.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <regex>
#include <thread>

#include "jtag_files_list.h"
#include "korvex_link.h"
#include "line_exception.h"
#include "native_path.h"
#include "player_thread.h"
#include "usbplow.h"

namespace {

// The counting side of the events. Handlers run on the player's worker thread; the result is read
// after the worker has finished.
class TCountingTarget {
public:
    TCountingTarget(const TRunOptions& Options, TFileCheck& Result)
        : FOptions(Options), FResult(Result), FRounder(FNoDriver) {
        // The programmer's own rounding of a requested frequency, without a device behind it.
        FDefault =
            FRounder.OnSetFrequency(TKorvexLink::DefaultFrequencyFor(Options.DefFreq), false);
        FCurrent = FDefault;
        FResult.DefaultFrequency = FDefault;
    }

    TJtagEvents Events() {
        TJtagEvents E;
        E.OnMessage = [this](const std::string& Text, uint8_t Severity) {
            std::lock_guard<std::mutex> Lock(FMutex);
            if (Severity == sevError && FFirstError.empty())
                FFirstError = Text;
        };
        E.OnShift = [this](const uint8_t*, const uint8_t*, int64_t Count, bool) {
            ++FResult.Scans;
            FResult.ScanBits += Count;
            Clocks(Count);
        };
        // Read-back is there at once; it is not compared (CompareReadBack is off).
        E.OnReadCaptured = [](uint8_t*, const uint8_t*, int64_t) { return true; };
        E.OnFlush = [] {};
        E.OnClockTms = [this](uint8_t, uint8_t) { Clocks(1); };
        E.OnWaitTime = [this](bool, int64_t TimeUs, uint8_t) { Wait(TimeUs, TimeUs); };
        E.OnRunClocks = [this](bool, int64_t Count, uint8_t) {
            switch (FOptions.RTwCount) {
            case 0:
                Clocks(Count);
                break;
            case 1: // the count is a time at the frequency in effect
                Wait(static_cast<int64_t>(std::llround(1e6 * static_cast<double>(Count) /
                                                       static_cast<double>(FCurrent))),
                     static_cast<int64_t>(std::llround(1e6 * static_cast<double>(Count) /
                                                       static_cast<double>(FDefault))));
                break;
            default: // the count is a time at 1 MHz
                Wait(Count, Count);
                break;
            }
        };
        // The programmer drives TRST only when VPP is set to be the TRST line.
        E.OnSetTrst = [this](bool, bool) { return FOptions.PActive == 3; };
        E.OnSetFrequency = [this](int64_t Hz, bool Send) {
            const int64_t Used = FRounder.OnSetFrequency(Hz, false);
            if (Send && FStarted) {
                FCurrent = Used;
                FResult.FileFrequencies.push_back(Used);
            }
            return Used;
        };
        return E;
    }

    // The player's own start sets the default frequency; only later calls are the file's.
    void Started() { FStarted = true; }
    std::string FirstError() {
        std::lock_guard<std::mutex> Lock(FMutex);
        return FFirstError;
    }

private:
    void Clocks(int64_t N) {
        FResult.TckCycles += N;
        FResult.SecondsAtFileFrequency += static_cast<double>(N) / static_cast<double>(FCurrent);
        FResult.SecondsAtDefaultFrequency += static_cast<double>(N) / static_cast<double>(FDefault);
    }
    // The link adds SecurityTime percent to every wait.
    void Wait(int64_t AtFileUs, int64_t AtDefaultUs) {
        FResult.WaitUs += AtFileUs;
        const double Margin = (100.0 + FOptions.SecurityTime) / 100.0 / 1e6;
        FResult.SecondsAtFileFrequency += static_cast<double>(AtFileUs) * Margin;
        FResult.SecondsAtDefaultFrequency += static_cast<double>(AtDefaultUs) * Margin;
    }

    const TRunOptions& FOptions;
    TFileCheck& FResult;
    TUsbDriver FNoDriver; // never loaded
    TKorvexLink FRounder;
    int64_t FDefault = 0;
    int64_t FCurrent = 0;
    bool FStarted = false;
    std::mutex FMutex;
    std::string FFirstError;
};

// "Fatal error <what> near line <n>\r\n"<text>"": the line number, 0 when there is none.
int32_t LineOf(const std::string& Message) {
    static const std::regex NearLine(" near line ([0-9]+)");
    std::smatch M;
    if (std::regex_search(Message, M, NearLine))
        return static_cast<int32_t>(std::stol(M[1].str()));
    return 0;
}

} // namespace

TFileCheck CheckFile(const std::string& FileName, const TRunOptions& Options) {
    TFileCheck Result;
    TCountingTarget Target(Options, Result);
    try {
        const std::string Ext =
            platform::Utf8FromPath(platform::PathFromUtf8(FileName).extension());
        std::unique_ptr<TJtagFile> Player = TJtagFilesList::Global().CreateForFile(Ext, FileName);
        Result.FileType = Player->GetFileType();
        Player->Events = Target.Events();
        Player->EchoComments = false;
        Player->CompareReadBack = false;
        // The player's own first frequency call is the default, not a statement of the file.
        auto& SetFrequency = Player->Events.OnSetFrequency;
        SetFrequency = [Inner = SetFrequency, &Target, First = true](int64_t Hz,
                                                                     bool Send) mutable {
            const int64_t Used = Inner(Hz, Send);
            if (First && Send) {
                First = false;
                Target.Started();
            }
            return Used;
        };
        Player->Start(Result.DefaultFrequency);
        while (Player->Status() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        Result.Statements = Player->StatementsExecuted();
        Result.Ok = Player->Status() == 2;
        if (!Result.Ok) {
            Result.Error = Target.FirstError();
            if (Result.Error.empty())
                Result.Error = "File processing failed";
            // Some errors (a bad number) do not name their line: the reader's position does.
            Result.ErrorLine = LineOf(Result.Error);
            if (Result.ErrorLine == 0)
                Result.ErrorLine = Player->LineReached();
        }
    } catch (const std::exception& E) {
        // Raised while the file was opened or pre-scanned, before anything was played.
        Result.Ok = false;
        Result.Error = FatalErrorText(E);
        Result.ErrorLine = LineOf(Result.Error);
    }
    return Result;
}

std::string FormatDuration(double Seconds) {
    char Text[48];
    if (Seconds < 60)
        std::snprintf(Text, sizeof Text, "%.2f s", Seconds);
    else if (Seconds < 3600) {
        const long long S = std::llround(Seconds);
        std::snprintf(Text, sizeof Text, "%lld min %02lld s", S / 60, S % 60);
    } else {
        const long long M = std::llround(Seconds / 60);
        std::snprintf(Text, sizeof Text, "%lld h %02lld min", M / 60, M % 60);
    }
    return Text;
}

namespace {
std::string Hz(int64_t F) {
    char Text[32];
    if (F % 1000000 == 0)
        std::snprintf(Text, sizeof Text, "%lld MHz", static_cast<long long>(F / 1000000));
    else if (F >= 1000000)
        std::snprintf(Text, sizeof Text, "%.2f MHz", static_cast<double>(F) / 1e6);
    else
        std::snprintf(Text, sizeof Text, "%.2f kHz", static_cast<double>(F) / 1e3);
    return Text;
}
} // namespace

std::vector<std::string> FileCheckLines(const std::string& FileName, const TFileCheck& C) {
    std::vector<std::string> Lines;
    Lines.push_back("Checking file " + FileName);
    if (!C.Ok) {
        // The error's own text keeps its line number and the statement's text.
        std::string Text = C.Error;
        for (size_t P; (P = Text.find("\r\n")) != std::string::npos;)
            Text.replace(P, 2, "\n");
        size_t Start = 0;
        for (size_t End; (End = Text.find('\n', Start)) != std::string::npos; Start = End + 1)
            Lines.push_back(Text.substr(Start, End - Start));
        Lines.push_back(Text.substr(Start));
        if (C.ErrorLine != 0 && C.Error.find(" near line ") == std::string::npos)
            Lines.push_back("The reader was at line " + std::to_string(C.ErrorLine));
        Lines.push_back("Check failed after " + std::to_string(C.Statements) +
                        (C.FileType == "XSVF" ? " commands" : " statements"));
        return Lines;
    }
    Lines.push_back(C.FileType + " file read to its end: " + std::to_string(C.Statements) +
                    (C.FileType == "XSVF" ? " commands, " : " statements, ") +
                    std::to_string(C.Scans) + " scans of " + std::to_string(C.ScanBits) +
                    " bits, " + std::to_string(C.TckCycles) + " TCK cycles, waits of " +
                    FormatDuration(static_cast<double>(C.WaitUs) / 1e6));
    std::string Freqs;
    for (int64_t F : C.FileFrequencies)
        if (Freqs.find(Hz(F)) == std::string::npos)
            Freqs += (Freqs.empty() ? "" : ", ") + Hz(F);
    if (Freqs.empty())
        Lines.push_back("Estimated play time: " + FormatDuration(C.SecondsAtDefaultFrequency) +
                        " at the default " + Hz(C.DefaultFrequency) +
                        " (the file sets no frequency)");
    else {
        Lines.push_back("Estimated play time: " + FormatDuration(C.SecondsAtFileFrequency) +
                        " at the file's frequency (" + Freqs + ")");
        Lines.push_back("                     " + FormatDuration(C.SecondsAtDefaultFrequency) +
                        " at the default " + Hz(C.DefaultFrequency));
    }
    Lines.push_back("Check passed: the file can be played");
    return Lines;
}
