#pragma once

#include <cstdint>
#include <string>

// The eight settings kept in the "Params" section of the settings file, with their defaults.
struct TSettings {
    uint8_t DefFreq = 0; // 0 = 3 MHz, 1 = 1.5 MHz, 2 = 750 kHz
    uint8_t RTwTime = 1; // RUNTEST without run_count: no clock, slow clock, current speed
    uint8_t RTwCount =
        2; // RUNTEST with run_count only: clocks, time at current speed, time at 1 MHz
    uint8_t PActive = 2;   // VPP during a run: low, high, tristate, TRST, SCK
    uint8_t PInactive = 3; // VPP after a run: low, high, tristate, keep
    int32_t LastSerial = -1;
    int32_t SecurityTime = 100; // percent added to every wait
    bool WriteComments = true;
};

inline constexpr const char* SettingsSection = "Params";

// Reads every key with its default; a missing file, section, key or a non-numeric value gives the
// default. The five options are stored in bytes: only the low 8 bits of the number count.
TSettings ReadSettings(const std::string& IniFileName);

// Writes all eight keys, replacing them in place and keeping every other line of the file.
// Throws std::runtime_error naming the file when it cannot be written.
void WriteSettings(const std::string& IniFileName, const TSettings& S);
