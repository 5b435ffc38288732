#include "tap_state.h"

#include <array>
#include <stdexcept>

namespace {

constexpr std::array<std::string_view, TapStateCount> Names = {
    "RESET",    "IDLE",     "DRSELECT",  "DRCAPTURE", "DRSHIFT", "DREXIT1", "DRPAUSE", "DREXIT2",
    "DRUPDATE", "IRSELECT", "IRCAPTURE", "IRSHIFT",   "IREXIT1", "IRPAUSE", "IREXIT2", "IRUPDATE"};

constexpr bool InDrColumn(uint8_t S) {
    return S >= tsDRCAPTURE && S <= tsDRUPDATE;
}
constexpr bool InIrColumn(uint8_t S) {
    return S >= tsIRCAPTURE && S <= tsIRUPDATE;
}

constexpr TTapStep Step(uint8_t Current, uint8_t Target);

// Every step of the walk, looked up instead of decided: a file of short statements walks the TAP
// a few clocks for each of them.
using TStepTable = std::array<std::array<TTapStep, TapStateCount>, TapStateCount>;
constexpr TStepTable MakeStepTable() {
    TStepTable T{};
    for (uint8_t C = 0; C < TapStateCount; ++C)
        for (uint8_t G = 0; G < TapStateCount; ++G)
            T[C][G] = Step(C, G);
    return T;
}

constexpr TTapStep Step(uint8_t Current, uint8_t Target) {
    switch (Current) {
    case tsRESET:
        return {0, tsIDLE};
    case tsIDLE:
        return {1, tsDRSELECT};
    case tsDRSELECT:
        return InDrColumn(Target) ? TTapStep{0, tsDRCAPTURE} : TTapStep{1, tsIRSELECT};
    case tsIRSELECT:
        return InIrColumn(Target) ? TTapStep{0, tsIRCAPTURE} : TTapStep{1, tsRESET};
    case tsDRCAPTURE:
        return Target == tsDRSHIFT ? TTapStep{0, tsDRSHIFT} : TTapStep{1, tsDREXIT1};
    case tsIRCAPTURE:
        return Target == tsIRSHIFT ? TTapStep{0, tsIRSHIFT} : TTapStep{1, tsIREXIT1};
    case tsDRSHIFT:
        return {1, tsDREXIT1};
    case tsIRSHIFT:
        return {1, tsIREXIT1};
    case tsDREXIT1:
        return (Target == tsDRSHIFT || Target == tsDRPAUSE || Target == tsDREXIT2)
                   ? TTapStep{0, tsDRPAUSE}
                   : TTapStep{1, tsDRUPDATE};
    case tsIREXIT1:
        return (Target == tsIRSHIFT || Target == tsIRPAUSE || Target == tsIREXIT2)
                   ? TTapStep{0, tsIRPAUSE}
                   : TTapStep{1, tsIRUPDATE};
    case tsDRPAUSE:
        return {1, tsDREXIT2};
    case tsIRPAUSE:
        return {1, tsIREXIT2};
    case tsDREXIT2:
        return Target == tsDRSHIFT ? TTapStep{0, tsDRSHIFT} : TTapStep{1, tsDRUPDATE};
    case tsIREXIT2:
        return Target == tsIRSHIFT ? TTapStep{0, tsIRSHIFT} : TTapStep{1, tsIRUPDATE};
    case tsDRUPDATE:
    case tsIRUPDATE:
        return Target == tsIDLE ? TTapStep{0, tsIDLE} : TTapStep{1, tsDRSELECT};
    default:
        throw std::logic_error(UnhandledTapStateMessage);
    }
}

constexpr TStepTable StepTable = MakeStepTable();

} // namespace

std::string_view TapStateName(uint8_t State) {
    return State < TapStateCount ? Names[State] : std::string_view("?");
}

TTapStep TapStep(uint8_t Current, uint8_t Target) {
    if (IsTapState(Current) && IsTapState(Target))
        return StepTable[Current][Target];
    return Step(Current, Target);
}

namespace {

// Whole walks, looked up: the table of steps followed to the end, with the two rules of the walk
// (RESET by six TMS-high clocks from anywhere, a pause state left and entered again).
struct TPathTable {
    std::array<std::array<TTapPath, TapStateCount>, TapStateCount> Paths{};
};

constexpr TTapPath FollowSteps(uint8_t Current, uint8_t Target, TTapPath Path) {
    while (Current != Target) {
        const TTapStep S = StepTable[Current][Target];
        Path.TmsBits |= static_cast<uint32_t>(S.Tms) << Path.Count;
        ++Path.Count;
        Current = S.Next;
    }
    return Path;
}

constexpr TPathTable MakePathTable() {
    TPathTable T;
    for (uint8_t C = 0; C < TapStateCount; ++C)
        for (uint8_t G = 0; G < TapStateCount; ++G) {
            TTapPath P;
            if (G == tsRESET)
                P = {0x3F, 6};
            else if (G == C && (C == tsDRPAUSE || C == tsIRPAUSE))
                P = FollowSteps(tsDRSELECT, G, FollowSteps(C, tsDRSELECT, {}));
            else
                P = FollowSteps(C, G, {});
            T.Paths[C][G] = P;
        }
    return T;
}

constexpr TPathTable PathTable = MakePathTable();

} // namespace

TTapPath TapPath(uint8_t Current, uint8_t Target) {
    if (!IsTapState(Current) || !IsTapState(Target))
        throw std::logic_error(UnhandledTapStateMessage);
    return PathTable.Paths[Current][Target];
}

void ClockTapPath(const TJtagEvents& Events, TTapPath Path) {
    if (Path.Count == 0)
        return;
    if (Events.OnTmsPath) {
        Events.OnTmsPath(Path.TmsBits, Path.Count);
        return;
    }
    if (Events.OnClockTms)
        for (int I = 0; I < Path.Count; ++I)
            Events.OnClockTms(0, static_cast<uint8_t>((Path.TmsBits >> I) & 1));
}

bool WalkTapState(uint8_t& Current, uint8_t Target, const TJtagEvents& Events) {
    if (!IsTapState(Current) || !IsTapState(Target))
        return false;
    ClockTapPath(Events, PathTable.Paths[Current][Target]);
    Current = Target;
    return true;
}

void WalkTapState(uint8_t& Current, uint8_t Target, const TClockTmsEvent& OnClockTms,
                  const std::function<void()>& RaiseUnhandled) {
    if (!IsTapState(Current) || !IsTapState(Target)) {
        RaiseUnhandled();
        throw std::logic_error(UnhandledTapStateMessage); // RaiseUnhandled must not return
    }
    const TTapPath Path = PathTable.Paths[Current][Target];
    if (OnClockTms)
        for (int I = 0; I < Path.Count; ++I)
            OnClockTms(0, static_cast<uint8_t>((Path.TmsBits >> I) & 1));
    Current = Target;
}
