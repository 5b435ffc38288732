#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The nine events through which a player drives the programmer. Bit arrays hold one bit per byte,
// index 0 shifted first; the caller owns them. An empty std::function is an unassigned event and is
// skipped, except OnReadCaptured, which every file that shifts data needs.

// Severity of a console line: information, comment text from the file, error, warning.
enum TSeverity : uint8_t { sevInfo = 0, sevComment = 1, sevError = 2, sevWarning = 3 };

using TMessageEvent = std::function<void(const std::string& Text, uint8_t Severity)>;
using TShiftEvent =
    std::function<void(const uint8_t* Tdi, const uint8_t* Capture, int64_t Count, bool Exit)>;
// Returns false while the programmer has not yet delivered every captured bit; nothing is
// consumed then and the caller asks again later.
using TReadCapturedEvent = std::function<bool(uint8_t* Tdo, const uint8_t* Capture, int64_t Count)>;
using TFlushEvent = std::function<void()>;
using TClockTmsEvent = std::function<void(uint8_t Tdi, uint8_t Tms)>;
using TWaitTimeEvent = std::function<void(bool Sck, int64_t TimeUs, uint8_t Tms)>;
// The longest wait a player asks for: 2^53 us, 285 years. A handler may scale it by a margin of
// up to a thousand times and still count in 64 bits; a file asking for more is refused.
inline constexpr int64_t MaxWaitUs = int64_t{1} << 53;
using TRunClocksEvent = std::function<void(bool Sck, int64_t Count, uint8_t Tms)>;
// Returns true when the TRST line was really driven (the programmer has one and uses it).
using TSetTrstEvent = std::function<bool(bool On, bool Drive)>;
// Returns the frequency the programmer really uses: the highest it supports not above the request.
using TSetFrequencyEvent = std::function<int64_t(int64_t FrequencyHz, bool Send)>;

// The set of events a front end hands to a player in one piece.
struct TJtagEvents {
    TMessageEvent OnMessage;
    TShiftEvent OnShift;
    TReadCapturedEvent OnReadCaptured;
    TFlushEvent OnFlush;
    TClockTmsEvent OnClockTms;
    TWaitTimeEvent OnWaitTime;
    TRunClocksEvent OnRunClocks;
    TSetTrstEvent OnSetTrst;
    TSetFrequencyEvent OnSetFrequency;
};
