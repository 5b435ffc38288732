#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "run_options.h"

// How a session of the application runs, from the desktop program's command line or from
// korvex-cli's options. The desktop program's command line:
//   -P          process the -F file once, automatically
//   -F name     the file to process (also "&Process Last File"'s file)
//   -I name     the settings file (its extension becomes ".ini")
//   -C          close after a run that completed successfully
//   -CC         close after a run that failed or did not start
//   -S hex      preselect the programmer by serial number
// Options are compared case-insensitively and exactly; a value is the next parameter (empty when
// there is none); anything else is ignored. A repeated option takes its last value.
struct TSessionOptions {
    bool AutoProcess = false;    // -P: process FileName once, at the first Poll
    bool CloseOnSuccess = false; // -C
    bool CloseOnError = false;   // -CC: also when the automatic processing does not start
    std::optional<std::string> FileName;
    std::optional<std::string> IniFileName;
    std::optional<std::string> Serial;
    // The name the default settings file is called after; empty = the executable's own name.
    std::string SettingsBaseName;
    // Options for this session only, applied over the settings file's (korvex-cli's --DefFreq
    // and the like); the settings file is not changed by them.
    std::vector<std::pair<const TRunOptionInfo*, int32_t>> OptionOverrides;
};

// Args without the program name.
TSessionOptions ParseCommandLine(const std::vector<std::string>& Args);

// A -S value: hexadecimal digits (either case, at most 64 bits), low 24 bits kept; -1 when the text
// is not such a number.
int32_t ParseSerialNumber(const std::string& Hex);

// The settings file for a name: its extension replaced by ".ini", or ".ini" appended when it has
// none. Only the last path component's extension counts.
std::string SettingsFileNameFor(const std::string& Name);

// The default settings file of an executable: beside it, named after it, when that folder is
// writable or the file is already there; otherwise in the user's settings folder
// ($XDG_CONFIG_HOME/korvex or ~/.config/korvex; %APPDATA%\korvex on Windows), so a program
// installed where users cannot write (/usr/bin, Program Files) keeps its settings.
// BaseName replaces the executable's own name when given (korvex-cli shares the desktop program's
// file).
std::string DefaultSettingsFileName(const std::string& ExecutablePath,
                                    const std::string& BaseName = "");
