#include "run_report.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>

#include "jtag_events.h"
#include "native_path.h"
#include "sha256.h"
#include "svf_hex.h"
#include "transcript.h"
#include <nlohmann/json.hpp>

std::string IsoTime(std::chrono::system_clock::time_point T) {
    const std::time_t Seconds = std::chrono::system_clock::to_time_t(T);
    std::tm Utc{};
    gmtime_r(&Seconds, &Utc);
    char Text[32];
    std::strftime(Text, sizeof Text, "%Y-%m-%dT%H:%M:%SZ", &Utc);
    return Text;
}

std::string RunReportJson(const TRunReport& R) {
    nlohmann::ordered_json J;
    J["file"] = R.File;
    J["sha256"] = R.Sha256;
    J["serial"] = R.Serial;
    J["driver"] = R.Driver;
    J["result"] = R.Result;
    J["exit_code"] = R.ExitCode;
    J["start_time"] = IsoTime(R.StartTime);
    J["duration_s"] = static_cast<double>(std::llround(R.DurationSeconds * 1000)) / 1000;
    J["statements"] = R.Statements;
    J["scans"] = R.Scans;
    J["tck_cycles"] = R.TckCycles;
    if (R.Failed) {
        const TRunFailure& F = R.Failure;
        J["failure"] = {{"message", F.Message},   {"line", F.Line}, {"command", F.Command},
                        {"expected", F.Expected}, {"read", F.Read}, {"mask", F.Mask}};
    } else {
        J["failure"] = nullptr;
    }
    // Text from a file (a path, a message) need not be UTF-8: replace what is not.
    return J.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string Sha256OfFile(const std::string& FileName) {
    // A device or FIFO named like a vector file may never end (/dev/zero); it is refused as not a
    // regular file by the run, and has no hash.
    std::error_code Ec;
    const std::filesystem::path Path = platform::PathFromUtf8(FileName);
    if (!std::filesystem::is_regular_file(Path, Ec))
        return "";
    std::ifstream In(Path, std::ios::binary);
    if (!In)
        return "";
    TSha256 Hash;
    std::vector<char> Buffer(1 << 16);
    while (In) {
        In.read(Buffer.data(), static_cast<std::streamsize>(Buffer.size()));
        if (In.gcount() > 0 && !Hash.Update(Buffer.data(), static_cast<size_t>(In.gcount())))
            return "";
    }
    if (In.bad())
        return "";
    return Hash.HexDigest();
}

namespace {
// "TDO  (hex): 0A6B5093" -> "0A6B5093" when Text starts with Key.
bool ValueAfter(const std::string& Text, const std::string& Key, std::string& Value) {
    if (Text.rfind(Key, 0) != 0)
        return false;
    Value = Text.substr(Key.size());
    return true;
}

int32_t NearLine(const std::string& Text) {
    const std::string Key = " near line ";
    const size_t P = Text.find(Key);
    return P == std::string::npos ? 0 : std::atoi(Text.c_str() + P + Key.size());
}
} // namespace

// A failure is reported in several lines: the SVF mismatch lines, "Failing SDR statement near
// line n"; or "XSDRTDO operation failed after maximum retries" / "Failing XSVF command #n ..."
// and the hex lines. The first line that is none of these after the failure was named (the
// controller's "!! ERROR !!" line) closes it.
void TFailureCollector::Line(const std::string& Text, uint8_t Severity) {
    if (FDone || Severity != sevError)
        return;
    if (ValueAfter(Text, HexExpectedPrefix, FFailure.Expected) ||
        ValueAfter(Text, HexReadPrefix, FFailure.Read) ||
        ValueAfter(Text, HexMaskPrefix, FFailure.Mask))
        return;
    if (ValueAfter(Text, XsvfFailingCommandPrefix, FFailure.Command)) {
        if (FFailure.Message.empty())
            FFailure.Message = Text;
        return;
    }
    if (Text.rfind("Error on S", 0) == 0 || Text.rfind("Expected: ", 0) == 0 ||
        Text.rfind("Readed:   ", 0) == 0)
        return;
    if (!FFailure.Message.empty()) {
        FDone = true;
        return;
    }
    FFailure.Message = Text.substr(0, Text.find("\r\n"));
    FFailure.Line = NearLine(Text);
}

TRunRecorder::TRunRecorder(const std::string& LogFile)
    : FTranscript(std::make_unique<TTranscript>(LogFile)) {}

TRunRecorder::~TRunRecorder() = default;

std::string TRunRecorder::Begin(const std::string& File, const std::string& What) {
    FReport = TRunReport{};
    FFailures = TFailureCollector{};
    FReport.File = File;
    FReport.Sha256 = Sha256OfFile(File);
    FReport.StartTime = std::chrono::system_clock::now();
    FStarted = std::chrono::steady_clock::now();
    if (!FTranscript->Start(What +
                            (FReport.Sha256.empty() ? "" : " (SHA-256 " + FReport.Sha256 + ")")))
        return "cannot write the log file " + FTranscript->FileName() + ": " +
               FTranscript->LastError();
    return "";
}

void TRunRecorder::SetProgrammer(const std::string& Serial, const std::string& Driver) {
    FReport.Serial = Serial;
    FReport.Driver = Driver;
}

void TRunRecorder::Line(const std::string& Text, uint8_t Severity) {
    FTranscript->Line(Text, Severity);
    FFailures.Line(Text, Severity);
}

const TRunReport& TRunRecorder::Finish(int ExitCode, int64_t Statements, int64_t Scans,
                                       int64_t TckCycles) {
    FReport.ExitCode = ExitCode;
    FReport.Result = ExitCode == 0 ? "passed" : ExitCode == 1 ? "failed" : "not started";
    FReport.DurationSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - FStarted).count();
    FReport.Statements = Statements;
    FReport.Scans = Scans;
    FReport.TckCycles = TckCycles;
    FReport.Failed = FFailures.Found();
    FReport.Failure = FFailures.Failure();
    char Seconds[32];
    std::snprintf(Seconds, sizeof Seconds, "%.2f s", FReport.DurationSeconds);
    FTranscript->End(FReport.Result + ", exit code " + std::to_string(ExitCode) + ", " + Seconds +
                     (FReport.Serial.empty() ? "" : ", S/N " + FReport.Serial));
    return FReport;
}
