#pragma once

// Whole runs as a user starts them, for the fault-injection matrix and the bad-input table:
//  - TControllerRun plays a file through the processing controller in this process, on the
//    simulated programmer with a configuration per case, as "korvex-player -P -F file -C -CC"
//    would, and records what the window would show;
//  - RunCli starts korvex-cli as a child process, bounded in time and (outside AddressSanitizer
//    builds) in address space, and reports its output, exit code and peak memory.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scratch.h"

class TProcessingController;

struct TRunOutcome {
    int ExitCode = -1;
    std::vector<std::string> Console;    // the console after the run (lines since the last clear)
    std::vector<std::string> ErrorBoxes; // message boxes the run raised
    bool WindowClosed = false;           // -C / -CC closed the window
    bool StillConnected = true;          // the link still held the programmer after the run
    bool Hung = false;                   // the run did not end within its limit
    std::chrono::milliseconds Took{0};
    std::string Trace; // the simulator's trace of the run

    bool HasLine(const std::string& Line) const;
    // The first console line that starts with Prefix, or "" when none does.
    std::string LineStartingWith(const std::string& Prefix) const;
};

class TControllerRun {
public:
    TControllerRun();

    // Plays File as the command line "-P -F File -C -CC" does, on the simulator with the given
    // configuration lines (a trace line is added) or, when Driver is given, on that D2XX library.
    // Setup runs after the settings are loaded and before the first tick. A run that has not
    // ended after Limit is stopped and reported as hung.
    TRunOutcome Play(const std::string& File, const std::string& SimConfig,
                     const std::function<void(TProcessingController&)>& Setup = {},
                     const std::string& Driver = "",
                     std::chrono::milliseconds Limit = std::chrono::seconds(20));

    const TScratchFolder& Folder() const { return FFolder; }

private:
    TScratchFolder FFolder;
    int FRuns = 0;
};

struct TCliOutcome {
    int ExitCode = -1; // 128 + signal when it was killed
    std::string Out, Err;
    bool Hung = false;
    int64_t PeakRssKb = 0;
    std::chrono::milliseconds Took{0};

    // Output lines of the run without the two opening lines ("Using KORVEX ...", "Reading ...").
    std::vector<std::string> Lines() const;
};

// korvex-cli on File against the simulator (default configuration), killed after Limit. Outside
// sanitizer builds the child's address space is limited to AddressSpaceMb, so a hostile
// length that tries to allocate without bound fails there instead of taking the machine's memory.
TCliOutcome RunCli(const TScratchFolder& Folder, const std::string& File,
                   std::chrono::milliseconds Limit = std::chrono::seconds(20),
                   int64_t AddressSpaceMb = 1024);

// True in builds instrumented by AddressSanitizer or ThreadSanitizer: they reserve terabytes of
// address space for their shadow memory, so an address-space limit cannot be used there, and they
// need several times the memory of a plain build.
bool UnderSanitizer();
