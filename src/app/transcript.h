#pragma once

#include <chrono>
#include <cstdio>
#include <string>

// The --log file: every run appends its console lines, each with the time it was shown, between a
// start line and an end line, so a production line keeps one file for every board it programmed:
//
//   2026-12-08T22:55:01Z ==== start: korvex-cli board.svf (S/N A6012345)
//   2026-12-08T22:55:01Z      Using KORVEX S/N A6012345
//   2026-12-08T22:55:03Z  ERR Failing SDR statement near line 12
//   2026-12-08T22:55:03Z ==== end: failed, exit code 1, 2.31 s
//
// The file is opened for appending at each write, so several processes (one per programmer) can
// share it: each line is written with one call and lands whole.
class TTranscript {
public:
    TTranscript() = default;
    explicit TTranscript(std::string FileName) : FFileName(std::move(FileName)) {}

    bool Enabled() const { return !FFileName.empty(); }
    const std::string& FileName() const { return FFileName; }
    // Writes one line; false when the file cannot be written (the run goes on).
    bool Start(const std::string& What);
    bool Line(const std::string& Text, uint8_t Severity);
    bool End(const std::string& Outcome);
    // Why the last write failed ("No such file or directory"), empty after a good one.
    const std::string& LastError() const { return FLastError; }

    // Tests set the clock.
    std::chrono::system_clock::time_point (*Now)() = &std::chrono::system_clock::now;

private:
    bool Write(const std::string& Tag, const std::string& Text);
    std::string FFileName;
    std::string FLastError;
};
