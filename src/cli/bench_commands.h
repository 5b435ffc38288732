#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "file_check.h"

namespace CLI {
class App;
}
class TKorvexLink;

// The bench and production-line options of korvex-cli: --detect, --check, --log, --json.
struct TBenchOptions {
    bool Detect = false;
    std::string CheckFile; // --check FILE
    std::string LogFile;   // --log FILE
    bool Json = false;
};

// Adds the options, and the examples of --help, to the command line.
void AddBenchOptions(CLI::App& App, TBenchOptions& Options);

// --detect: the chain behind the programmer FindKorvex chooses, scanned at FrequencyHz; the
// report on Out. 0 = the chain was read, 1 = it could not be read, 2 = no programmer.
int DetectChain(TKorvexLink& Link, const std::function<bool()>& FindKorvex, int64_t FrequencyHz,
                FILE* Out);

// --check FILE: the dry run's report on Out; 0 = the file can be played, 1 = it cannot.
int CheckFileCommand(const std::string& FileName, const TCheckTiming& Timing, FILE* Out);
