#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "run_options.h"

// A dry run: the file is read to its end by the real player, with no programmer and no driver.
// Every event is counted instead of sent; read-back is answered at once and not compared, so the
// whole file is walked as on a target that matches every scan. The first error the player reports
// ends the check, as it would end a run.

struct TFileCheck {
    bool Ok = false;
    std::string FileType; // "SVF", "XSVF"
    std::string Error;    // the first error as the console shows it; empty when Ok
    int32_t ErrorLine =
        0; // its line in the file; 0 when it has none (XSVF, a file that is missing)
    int64_t Statements = 0;               // SVF statements or XSVF commands executed
    int64_t Scans = 0;                    // IR and DR shifts
    int64_t ScanBits = 0;                 // bits shifted in them
    int64_t TckCycles = 0;                // clocks of scans, TAP moves and clock-count RUNTESTs
    int64_t WaitUs = 0;                   // waits as the file states them
    int64_t DefaultFrequency = 0;         // Hz the programmer uses without a FREQUENCY statement
    std::vector<int64_t> FileFrequencies; // Hz of the file's FREQUENCY statements, as played
    // Play time of the TCK cycles and waits (waits with the SecurityTime margin): at the file's
    // own frequencies, and with every clock at the default frequency. The USB round trips of a
    // real run add to both.
    double SecondsAtFileFrequency = 0;
    double SecondsAtDefaultFrequency = 0;
};

// Checks one file with the player the global registry has for its extension. Of the run options,
// DefFreq gives the default frequency, SecurityTime and RTwCount how long waits take.
TFileCheck CheckFile(const std::string& FileName, const TRunOptions& Options);

// The console lines of a check ("Check passed: ..." / "Check failed: ...").
std::vector<std::string> FileCheckLines(const std::string& FileName, const TFileCheck& Check);
// A duration for people: "0.42 s", "1 min 05 s", "2 h 03 min".
std::string FormatDuration(double Seconds);
