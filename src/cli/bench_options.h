#pragma once

#include <string>

namespace CLI {
class App;
}

// The bench and production-line options of korvex-cli: --detect, --check, --log, --json.
struct TBenchOptions {
    bool Detect = false;
    std::string CheckFile; // --check FILE
    std::string LogFile;   // --log FILE
    bool Json = false;
};

// Adds the options, and the examples --help ends with, to the command line.
void AddBenchOptions(CLI::App& App, TBenchOptions& Options);
