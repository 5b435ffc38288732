#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What a script or a production line keeps of one run: the --json object and the --log transcript.

// The first failing compare of a run, as the console reported it.
struct TRunFailure {
    std::string Message;  // "Failing SDR statement near line 12", "XSDRTDO operation failed ..."
    int32_t Line = 0;     // SVF line; 0 for XSVF
    std::string Command;  // XSVF: "#12 XSDRTDO"
    std::string Expected; // hexadecimal, most significant digit first, as SVF writes values
    std::string Read;
    std::string Mask;
};

struct TRunReport {
    std::string File;
    std::string Sha256; // of the file's bytes; empty when it could not be read
    std::string Serial; // programmer serial as --list shows it; empty when none was opened
    std::string Driver; // the D2XX library loaded
    std::string Result; // "passed", "failed", "not started"
    int ExitCode = 0;
    std::chrono::system_clock::time_point StartTime;
    double DurationSeconds = 0;
    int64_t Statements = 0;
    int64_t Scans = 0;
    int64_t TckCycles = 0;
    bool Failed = false; // Failure holds the first failure
    TRunFailure Failure;
};

// One JSON object on one line. Keys: file, sha256, serial, driver, result, exit_code, start_time
// (UTC, ISO 8601), duration_s, statements, scans, tck_cycles, failure (null or an object with
// message, line, command, expected, read, mask).
std::string RunReportJson(const TRunReport& Report);

// The SHA-256 of a file in lower-case hexadecimal; empty when it cannot be read.
std::string Sha256OfFile(const std::string& FileName);

// A time as "2026-12-08T22:55:01Z" (UTC).
std::string IsoTime(std::chrono::system_clock::time_point T);

// Watches the console lines of a run and keeps the first failure with its hex lines.
class TFailureCollector {
public:
    void Line(const std::string& Text, uint8_t Severity);
    bool Found() const { return !FFailure.Message.empty(); }
    const TRunFailure& Failure() const { return FFailure; }

private:
    TRunFailure FFailure;
    bool FDone = false; // the first failure is complete; later lines are not looked at
};

class TTranscript;

// One run seen from outside: started with the file and the programmer, fed every console line,
// finished with the exit code and the counters. Feeds the --log transcript as the lines come and
// builds the --json report at the end.
class TRunRecorder {
public:
    // LogFile empty: no transcript.
    explicit TRunRecorder(const std::string& LogFile);
    ~TRunRecorder();
    TRunRecorder(const TRunRecorder&) = delete;
    TRunRecorder& operator=(const TRunRecorder&) = delete;

    // What names the run in the transcript's start line ("korvex-cli board.svf"). Returns why the
    // transcript cannot be written ("cannot write the log file x.log: Permission denied"), empty
    // when it can (or there is none): a run whose record would be lost is better not started.
    std::string Begin(const std::string& File, const std::string& What);
    // The programmer and the driver once they are known.
    void SetProgrammer(const std::string& Serial, const std::string& Driver);
    void Line(const std::string& Text, uint8_t Severity);
    // Exit code 0 passed, 1 failed, 2 not started.
    const TRunReport& Finish(int ExitCode, int64_t Statements, int64_t Scans, int64_t TckCycles);
    const TRunReport& Report() const { return FReport; }

private:
    std::unique_ptr<TTranscript> FTranscript;
    TFailureCollector FFailures;
    TRunReport FReport;
    std::chrono::steady_clock::time_point FStarted;
};
