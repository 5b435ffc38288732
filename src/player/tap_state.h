#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "jtag_events.h"

// The sixteen IEEE 1149.1 TAP controller states. The numbers are also the XSVF state codes and the
// order of the SVF state keywords.
enum TTapState : uint8_t {
    tsRESET = 0,
    tsIDLE = 1,
    tsDRSELECT = 2,
    tsDRCAPTURE = 3,
    tsDRSHIFT = 4,
    tsDREXIT1 = 5,
    tsDRPAUSE = 6,
    tsDREXIT2 = 7,
    tsDRUPDATE = 8,
    tsIRSELECT = 9,
    tsIRCAPTURE = 10,
    tsIRSHIFT = 11,
    tsIREXIT1 = 12,
    tsIRPAUSE = 13,
    tsIREXIT2 = 14,
    tsIRUPDATE = 15,
};

constexpr int TapStateCount = 16;

inline bool IsTapState(int Code) {
    return Code >= 0 && Code < TapStateCount;
}

// The four states a TAP stays in while TMS holds its level: reset (TMS high), Run-Test/Idle and
// the two pauses (TMS low). Any other state moves on at the next clock.
inline bool IsStableTapState(int Code) {
    return Code == tsRESET || Code == tsIDLE || Code == tsDRPAUSE || Code == tsIRPAUSE;
}

// The state names as SVF writes them ("RESET", "IDLE", "DRSELECT", ...).
std::string_view TapStateName(uint8_t State);

// One clock of the walk: the TMS level and the state it leads to.
struct TTapStep {
    uint8_t Tms;
    uint8_t Next;
};

// The step the walk takes from Current towards Target (Current != Target, Current a valid state).
TTapStep TapStep(uint8_t Current, uint8_t Target);

// The clocks of one walk from Current to Target, as WalkTapState takes them: Count clocks, the
// TMS level of the i-th in bit i of TmsBits. Both states must be valid.
struct TTapPath {
    uint32_t TmsBits = 0;
    uint8_t Count = 0;
};
TTapPath TapPath(uint8_t Current, uint8_t Target);

// Clocks a path through the events: one OnTmsPath when it is assigned, one OnClockTms a clock
// otherwise (skipped when unassigned).
void ClockTapPath(const TJtagEvents& Events, TTapPath Path);

// The walk both players use. Each player keeps its own current-state byte and passes it in; every
// clock is one OnClockTms(0, tms) (skipped when unassigned, the state still advances).
//  - Target RESET: six TMS-high clocks whatever the current state; a move to RESET is never walked.
//  - Target equal to a pause state the TAP is in: leave through DRSELECT and walk back, so the
//    device really passes Update and Capture again.
//  - Otherwise step through the table until Current == Target.
// A current state that is not one of the sixteen calls RaiseUnhandled, which must throw; the SVF
// player raises a line error there, the XSVF player a plain one.
void WalkTapState(uint8_t& Current, uint8_t Target, const TClockTmsEvent& OnClockTms,
                  const std::function<void()>& RaiseUnhandled);
// The same walk through OnTmsPath when the events have it. Returns false, without a clock, when
// a state is not one of the sixteen; the caller raises its own error.
[[nodiscard]] bool WalkTapState(uint8_t& Current, uint8_t Target, const TJtagEvents& Events);

// The message of an impossible walk.
inline constexpr const char* UnhandledTapStateMessage = "Unhandled TAP State change";
