#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <type_traits>

// The options of a run, as the settings file, the options dialog, korvex-cli and the programmer
// link all see them. The link reads a copy at each event, so a change made between two events
// takes effect whole at the next one.
struct TRunOptions {
    uint8_t DefFreq = 0;   // TCK: 0 = 3 MHz, 1 = 1.5 MHz, 2 = 750 kHz
    uint8_t RTwTime = 1;   // RUNTEST without run_count: no clock, slow clock, current speed
    uint8_t RTwCount = 2;  // RUNTEST with run_count only: clocks, time at current speed, at 1 MHz
    uint8_t PActive = 2;   // VPP during a run: low, high, tristate, TRST, SCK
    uint8_t PInactive = 3; // VPP after a run: low, high, tristate, keep
    int32_t SecurityTime = 100; // percent added to every wait
    bool WriteComments = true;  // SVF comments are echoed to the console
    uint8_t Driver = 0;         // USB library: auto, D2XX, libftdi1 (TDriverChoice in usbplow.h)
    bool operator==(const TRunOptions&) const = default;
};

// One option as the front ends handle it generically: the settings file key (also korvex-cli's
// --Key), the values that mean something, and how to read and write it in a record. An option
// kept in a byte stores the low 8 bits of what it is given, as a byte-sized field of the settings
// file always has; a wider one is held to its range.
struct TRunOptionInfo {
    const char* Key;
    int32_t Min;
    int32_t Max;
    const char* Help; // korvex-cli's description of the values
    int32_t (*Get)(const TRunOptions&);
    void (*Set)(TRunOptions&, int32_t);
    // For an option whose values have names (the settings file and the command line use them):
    // the name of each value from Min to Max; null for a number.
    const char* const* ValueNames = nullptr;

    int32_t Default() const { return Get(TRunOptions{}); }
};

namespace run_options_detail {
template <auto Member, int32_t Min, int32_t Max>
constexpr TRunOptionInfo Option(const char* Key, const char* Help,
                                const char* const* ValueNames = nullptr) {
    using T = std::remove_cvref_t<decltype(std::declval<TRunOptions&>().*Member)>;
    return {Key,
            Min,
            Max,
            Help,
            [](const TRunOptions& O) { return static_cast<int32_t>(O.*Member); },
            [](TRunOptions& O, int32_t V) {
                if constexpr (std::is_same_v<T, bool>)
                    O.*Member = V != 0;
                else if constexpr (sizeof(T) == 1)
                    O.*Member = static_cast<T>(V);
                else
                    O.*Member = static_cast<T>(std::clamp(V, Min, Max));
            },
            ValueNames};
}
} // namespace run_options_detail

// The values of Driver as the settings file and --driver spell them.
inline constexpr const char* DriverValueNames[] = {"auto", "d2xx", "libftdi"};

// Every option, in the order the settings file lists them. A new option is a member above, a row
// here and a control in the options dialog named after its key.
inline constexpr auto RunOptionTable = [] {
    using run_options_detail::Option;
    return std::array{
        Option<&TRunOptions::DefFreq, 0, 2>("DefFreq",
                                            "TCK frequency: 0 = 3 MHz, 1 = 1.5 MHz, 2 = 750 kHz"),
        Option<&TRunOptions::RTwTime, 0, 2>(
            "RTwTime", "RUNTEST without run_count: 0 = no clock, 1 = slow clock, "
                       "2 = clock at the current speed"),
        Option<&TRunOptions::RTwCount, 0, 2>(
            "RTwCount", "RUNTEST with run_count only: 0 = that many clocks, 1 = "
                        "minimum time at the current frequency, 2 = minimum time "
                        "at 1 MHz"),
        Option<&TRunOptions::PActive, 0, 4>(
            "PActive", "VPP during the run: 0 = low, 1 = high, 2 = tristate, 3 = TRST, 4 = SCK"),
        Option<&TRunOptions::PInactive, 0, 3>(
            "PInactive", "VPP after the run: 0 = low, 1 = high, 2 = tristate, 3 = keep"),
        Option<&TRunOptions::SecurityTime, 0, INT32_MAX>(
            "SecurityTime", "Percent of additional time added to every RUNTEST wait"),
        Option<&TRunOptions::WriteComments, 0, 1>(
            "WriteComments", "1 = SVF comments are written to the console, 0 = they are not"),
        Option<&TRunOptions::Driver, 0, 2>(
            "Driver",
            "USB driver library: auto (D2XX when KORVEX_D2XX is set or libftd2xx.so loads, else "
            "libftdi1), d2xx or libftdi",
            DriverValueNames),
    };
}();

inline std::span<const TRunOptionInfo> RunOptions() {
    return RunOptionTable;
}
