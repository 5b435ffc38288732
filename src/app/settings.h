#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "ini_file.h"

#include "run_options.h"

// What the "Params" section of the settings file keeps: the run options and the programmer used
// last.
struct TSettings {
    TRunOptions Options;
    int32_t LastSerial = -1;
};

inline constexpr const char* SettingsSection = "Params";

// Reads every key with its default; a missing file, section, key or a non-numeric value gives the
// default.
TSettings ReadSettings(const std::string& IniFileName);

// Writes every key, replacing them in place and keeping every other line of the file, together
// with what WriteMore adds (the window's own section) in one replacement of the file. Throws
// std::runtime_error naming the file when it cannot be written; the old file is then unchanged.
void WriteSettings(const std::string& IniFileName, const TSettings& S,
                   const std::function<void(TIniFile&)>& WriteMore = {});
