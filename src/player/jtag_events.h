#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The events through which a player drives the programmer. An empty std::function is an
// unassigned event and is skipped, except OnReadCaptured, which every file that shifts data needs.
// OnTmsPath is optional: a TAP walk uses it when it is assigned and OnClockTms a clock at a time
// otherwise; both must leave the programmer in the same state.
//
// Bit arrays are packed, one bit per bit, least significant bit first: bit i of a scan is
// (Array[i / 8] >> (i % 8)) & 1, and bit 0 is shifted first. An array of Count bits has
// (Count + 7) / 8 bytes; the bits above Count in its last byte mean nothing. The caller owns them.
//
// A long scan may come in several OnShift calls, every one but the last with Exit false; the TAP
// stays in the shift state between them. Each OnShift that captures bits is answered by one
// OnReadCaptured with the same Count and Capture, in order. OnReadCaptured writes every captured
// bit of Tdo; the other bits of Tdo are left with any value.

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
// A TAP walk in one call: Count clocks (1 to 32) with TDI low, the TMS level of the i-th clock in
// bit i of TmsBits. A walk is a few clocks before and after every scan; one call for all of them
// instead of one a clock is most of what a file of short statements costs the host.
using TTmsPathEvent = std::function<void(uint32_t TmsBits, int Count)>;
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
    TTmsPathEvent OnTmsPath;
};
