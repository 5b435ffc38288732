#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tap_state.h"

namespace {

std::string Walk(uint8_t From, uint8_t To, uint8_t* End = nullptr) {
    std::string Tms;
    uint8_t Current = From;
    WalkTapState(
        Current, To,
        [&](uint8_t Tdi, uint8_t T) {
            EXPECT_EQ(Tdi, 0);
            Tms += static_cast<char>('0' + T);
        },
        [] { throw std::runtime_error(UnhandledTapStateMessage); });
    if (End)
        *End = Current;
    return Tms;
}

} // namespace

// Every row of the step table.
TEST(TapState, StepTable) {
    struct {
        uint8_t Current, Target, Tms, Next;
    } Rows[] = {
        {tsRESET, tsIDLE, 0, tsIDLE},
        {tsIDLE, tsDRSHIFT, 1, tsDRSELECT},
        {tsDRSELECT, tsDRCAPTURE, 0, tsDRCAPTURE},
        {tsDRSELECT, tsDRUPDATE, 0, tsDRCAPTURE},
        {tsDRSELECT, tsIDLE, 1, tsIRSELECT},
        {tsDRSELECT, tsIRSHIFT, 1, tsIRSELECT},
        {tsIRSELECT, tsIRCAPTURE, 0, tsIRCAPTURE},
        {tsIRSELECT, tsIRUPDATE, 0, tsIRCAPTURE},
        {tsIRSELECT, tsDRSHIFT, 1, tsRESET},
        {tsIRSELECT, tsIDLE, 1, tsRESET},
        {tsDRCAPTURE, tsDRSHIFT, 0, tsDRSHIFT},
        {tsDRCAPTURE, tsDRPAUSE, 1, tsDREXIT1},
        {tsIRCAPTURE, tsIRSHIFT, 0, tsIRSHIFT},
        {tsIRCAPTURE, tsIRPAUSE, 1, tsIREXIT1},
        {tsDRSHIFT, tsIDLE, 1, tsDREXIT1},
        {tsIRSHIFT, tsIDLE, 1, tsIREXIT1},
        {tsDREXIT1, tsDRSHIFT, 0, tsDRPAUSE},
        {tsDREXIT1, tsDRPAUSE, 0, tsDRPAUSE},
        {tsDREXIT1, tsDREXIT2, 0, tsDRPAUSE},
        {tsDREXIT1, tsIDLE, 1, tsDRUPDATE},
        {tsIREXIT1, tsIRSHIFT, 0, tsIRPAUSE},
        {tsIREXIT1, tsIRPAUSE, 0, tsIRPAUSE},
        {tsIREXIT1, tsIREXIT2, 0, tsIRPAUSE},
        {tsIREXIT1, tsIDLE, 1, tsIRUPDATE},
        {tsDRPAUSE, tsIDLE, 1, tsDREXIT2},
        {tsIRPAUSE, tsIDLE, 1, tsIREXIT2},
        {tsDREXIT2, tsDRSHIFT, 0, tsDRSHIFT},
        {tsDREXIT2, tsIDLE, 1, tsDRUPDATE},
        {tsIREXIT2, tsIRSHIFT, 0, tsIRSHIFT},
        {tsIREXIT2, tsIDLE, 1, tsIRUPDATE},
        {tsDRUPDATE, tsIDLE, 0, tsIDLE},
        {tsDRUPDATE, tsDRSHIFT, 1, tsDRSELECT},
        {tsIRUPDATE, tsIDLE, 0, tsIDLE},
        {tsIRUPDATE, tsIRSHIFT, 1, tsDRSELECT},
    };
    for (auto R : Rows) {
        const TTapStep S = TapStep(R.Current, R.Target);
        EXPECT_EQ(S.Tms, R.Tms) << TapStateName(R.Current) << "->" << TapStateName(R.Target);
        EXPECT_EQ(S.Next, R.Next) << TapStateName(R.Current) << "->" << TapStateName(R.Target);
    }
}

TEST(TapState, Walks) {
    struct {
        uint8_t From, To;
        const char* Tms;
    } Rows[] = {
        {tsIDLE, tsDRSHIFT, "100"},
        {tsIDLE, tsIRSHIFT, "1100"},
        {tsDREXIT1, tsIDLE, "10"},
        {tsDREXIT1, tsDRPAUSE, "0"},
        {tsDRPAUSE, tsDRSHIFT, "10"},
        {tsDREXIT1, tsDRSHIFT, "010"},
        {tsIREXIT1, tsIRPAUSE, "0"},
        {tsDRUPDATE, tsDRSHIFT, "100"},
        {tsRESET, tsRESET, "111111"},
        {tsIDLE, tsRESET, "111111"},
        {tsIDLE, tsIDLE, ""},
        {tsDRSHIFT, tsDRSHIFT, ""},
        {tsDRPAUSE, tsDRPAUSE, "111010"},
        {tsIRPAUSE, tsIRPAUSE, "1111010"},
        {tsIRSELECT, tsDRSHIFT, "10100"},
        {tsRESET, tsIDLE, "0"},
        {tsIREXIT1, tsIDLE, "10"},
        {tsDRPAUSE, tsIDLE, "110"},
    };
    for (auto R : Rows) {
        uint8_t End = 0xFF;
        EXPECT_EQ(Walk(R.From, R.To, &End), R.Tms)
            << TapStateName(R.From) << "->" << TapStateName(R.To);
        EXPECT_EQ(End, R.To);
    }
}

// From any state to any state the walk ends where it was asked to, in at most 9 clocks.
TEST(TapState, EveryPairReachesItsTarget) {
    for (int From = 0; From < TapStateCount; ++From)
        for (int To = 0; To < TapStateCount; ++To) {
            uint8_t End = 0xFF;
            const std::string Tms = Walk(From, To, &End);
            EXPECT_EQ(End, To);
            EXPECT_LE(Tms.size(), 9u) << From << "->" << To;
        }
}

TEST(TapState, UnassignedClockStillAdvances) {
    uint8_t Current = tsIDLE;
    WalkTapState(Current, tsIRPAUSE, nullptr, [] { throw std::runtime_error("x"); });
    EXPECT_EQ(Current, tsIRPAUSE);
}

TEST(TapState, InvalidCurrentStateRaisesThroughTheCaller) {
    uint8_t Current = 16;
    int Clocks = 0;
    EXPECT_THROW(WalkTapState(
                     Current, tsIDLE, [&](uint8_t, uint8_t) { ++Clocks; },
                     [] { throw std::invalid_argument(UnhandledTapStateMessage); }),
                 std::invalid_argument);
    EXPECT_EQ(Clocks, 0);
}

// The looked-up paths are the walks clock for clock, and the walk through the events ends where
// the clocked one does; a state outside the sixteen clocks nothing.
TEST(TapState, PathsAreTheWalks) {
    for (uint8_t From = 0; From < TapStateCount; ++From)
        for (uint8_t To = 0; To < TapStateCount; ++To) {
            uint8_t End = 0;
            const std::string ByStep = Walk(From, To, &End);
            std::string ByPath;
            TJtagEvents E;
            E.OnTmsPath = [&](uint32_t Bits, int Count) {
                for (int I = 0; I < Count; ++I)
                    ByPath += static_cast<char>('0' + ((Bits >> I) & 1));
            };
            uint8_t Current = From;
            ASSERT_TRUE(WalkTapState(Current, To, E));
            EXPECT_EQ(ByPath, ByStep) << TapStateName(From) << " to " << TapStateName(To);
            EXPECT_EQ(Current, End);
        }
    TJtagEvents E;
    int Clocks = 0;
    E.OnClockTms = [&](uint8_t, uint8_t) { ++Clocks; };
    uint8_t Bad = 16;
    EXPECT_FALSE(WalkTapState(Bad, tsIDLE, E));
    EXPECT_EQ(Clocks, 0);
}
