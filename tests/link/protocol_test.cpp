#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "bit_pack.h"
#include "korvex_link.h"
#include "tap_state.h"
#include "usbplow.h"

// Byte-exact command streams. Nothing here opens a device: every case stays below one queue's
// worth of bytes and looks at the queue itself.

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

namespace {

class Protocol : public ::testing::Test {
protected:
    TUsbDriver Driver; // never loaded
    TKorvexLink Link{Driver};

    Bytes Queued() const { return Bytes(Link.QueueData(), Link.QueueData() + Link.QueueLength()); }
    Bytes Take() {
        Bytes B = Queued();
        Link.ClearQueue();
        return B;
    }
    void Shift(const Bytes& Tdi, const Bytes& Capture, bool Exit) {
        Link.OnShift(PackBits(Tdi).data(), PackBits(Capture).data(),
                     static_cast<int64_t>(Tdi.size()), Exit);
    }
    static Bytes Repeat(uint8_t B, size_t N) { return Bytes(N, B); }
    static Bytes Cat(std::initializer_list<Bytes> Parts) {
        Bytes All;
        for (const Bytes& P : Parts)
            All.insert(All.end(), P.begin(), P.end());
        return All;
    }
};

} // namespace

TEST_F(Protocol, ShiftStreamsInFastMode) {
    struct TCase {
        const char* Name;
        Bytes Tdi, Capture;
        bool Exit;
        Bytes Expected;
    };
    const TCase Cases[] = {
        {"six bits, the documented example",
         {1, 0, 1, 1, 0, 1},
         {0, 0, 0, 0, 0, 0},
         true,
         {0xCB, 0xCF, 0x36, 0xCB, 0xEC, 0xCF, 0xCA}},
        {"one bit with exit", {1}, {0}, true, {0xEC, 0xCB, 0xCF}},
        {"one bit with exit, captured", {0}, {1}, true, {0xEC, 0xCA, 0xDE}},
        {"one bit without exit keeps TMS low", {1}, {1}, false, {0xE8, 0xCB, 0xDF}},
        {"two bits: no group", {0, 1}, {1, 1}, false, {0xCA, 0xDE, 0xCB, 0xE8, 0xDF, 0xCA}},
        {"five bits: one group of three",
         {1, 1, 0, 1, 0},
         {0, 0, 0, 0, 0},
         true,
         {0xCB, 0xCF, 0x25, 0xCA, 0xEC, 0xCE, 0xCA}},
        {"ten bits, capture in the second group only",
         {0, 1, 1, 1, 1, 0, 0, 0, 1, 0},
         {0, 0, 0, 0, 0, 0, 0, 1, 0, 0},
         true,
         {0xCA, 0xCE, 0x3F, 0x78, 0xCA, 0xEC, 0xCE, 0xCA}},
        {"non-zero TDI bytes count as one",
         {7, 0, 0x80, 2, 1, 0},
         {0, 0, 0, 0, 0, 0},
         false,
         {0xCB, 0xCF, 0x3E, 0xCA, 0xE8, 0xCE, 0xCA}},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        Shift(C.Tdi, C.Capture, C.Exit);
        EXPECT_THAT(Take(), ElementsAreArray(C.Expected));
    }
}

TEST_F(Protocol, ZeroBitScanQueuesNothingAndReadsBackAtOnce) {
    Shift({}, {}, true);
    EXPECT_EQ(Link.QueueLength(), 0u);
    uint8_t Tdo = 0x55;
    EXPECT_TRUE(Link.OnReadCaptured(&Tdo, nullptr, 0));
    // Nothing captured: no reply to wait for, no device needed.
    const Bytes Flags(2, 0);
    Bytes Out(2, 0x55);
    EXPECT_TRUE(Link.OnReadCaptured(Out.data(), Flags.data(), 9));
    EXPECT_EQ(Out, Bytes(2, 0x55));
}

TEST_F(Protocol, ShiftStreamInDividerMode) {
    ASSERT_EQ(Link.OnSetFrequency(500000, false), 500000);
    ASSERT_EQ(Link.Divider(), 2);
    Shift({1, 0, 1}, {0, 1, 0}, true);
    EXPECT_THAT(Take(), ElementsAre(0xCB, 0xCF, 0xCF,             // first bit
                                    0xCA, 0xCA, 0xCE, 0xDE,       // middle bit, captured
                                    0xCB, 0xCB, 0xEC, 0xCF, 0xCF, // last bit, TMS high
                                    0xCA, 0xCA));
    Shift({0}, {1}, true);
    EXPECT_THAT(Take(), ElementsAre(0xEC, 0xCA, 0xCE, 0xDE));
}

TEST_F(Protocol, ClockTmsInBothModes) {
    Link.OnClockTms(0, 1);
    Link.OnClockTms(0, 0);
    EXPECT_THAT(Take(), ElementsAre(0xEC, 0xCA, 0xCE, 0xCA, 0xE8, 0xCA, 0xCE, 0xCA));
    Link.OnSetFrequency(333334, false);
    ASSERT_EQ(Link.Divider(), 3);
    Link.OnClockTms(0, 1);
    EXPECT_THAT(Take(), ElementsAre(0xEC, 0xCA, 0xCE, 0xCE, 0xCE, 0xCA, 0xCA, 0xCA));
}

// A walk in one OnTmsPath queues what its clocks one at a time queue: every walk between the
// sixteen states, at full speed and with a divider, and across a queue that fills mid-walk.
TEST_F(Protocol, TmsPathQueuesWhatItsClocksQueue) {
    for (int64_t Hz : {3000000, 333334})
        for (uint8_t From = 0; From < TapStateCount; ++From)
            for (uint8_t To = 0; To < TapStateCount; ++To) {
                Link.OnSetFrequency(Hz, false);
                const TTapPath Path = TapPath(From, To);
                for (int I = 0; I < Path.Count; ++I)
                    Link.OnClockTms(0, (Path.TmsBits >> I) & 1);
                const Bytes ByClock = Take();
                Link.OnTmsPath(Path.TmsBits, Path.Count);
                EXPECT_EQ(Take(), ByClock)
                    << Hz << " Hz, " << TapStateName(From) << " to " << TapStateName(To);
            }
    // Both ways end with the same TMS level, which TRST keeps.
    Link.OnTmsPath(0b011, 3);
    Link.OnSetTrst(true, true);
    const Bytes ByPath = Take();
    Link.OnClockTms(0, 1), Link.OnClockTms(0, 1), Link.OnClockTms(0, 0);
    Link.OnSetTrst(true, true);
    EXPECT_EQ(Take(), ByPath);
}

// A short scan goes into the queue from two words when the queue has room for it, and bit by bit
// otherwise: both ways give the same bytes, for every length the short way takes.
TEST_F(Protocol, ShortScansQueueWhatLongOnesDo) {
    uint32_t Seed = 12345;
    auto Next = [&] { return (Seed = Seed * 1103515245u + 12345u) >> 16; };
    for (int64_t Count = 1; Count <= TKorvexLink::ShortScanBits; ++Count)
        for (int Pattern = 0; Pattern < 4; ++Pattern) {
            Bytes Tdi(static_cast<size_t>(Count)), Capture(static_cast<size_t>(Count));
            for (int64_t I = 0; I < Count; ++I) {
                Tdi[static_cast<size_t>(I)] = Next() & 1;
                // None, all, and two mixes of captured bits.
                Capture[static_cast<size_t>(I)] = Pattern == 0 ? 0 : Pattern == 1 ? 1 : Next() & 1;
            }
            const bool Exit = Pattern % 2 == 0;
            Shift(Tdi, Capture, Exit);
            const Bytes Short = Take();
            // Less room than the short way asks for: the bit-by-bit way, without a flush.
            const uint32_t Filler = korvex::QueueSize - TKorvexLink::ShortScanBytes + 1;
            for (uint32_t I = 0; I < Filler; ++I)
                Link.WriteKorvexByte(korvex::CmdPause);
            Shift(Tdi, Capture, Exit);
            const Bytes All = Take();
            EXPECT_EQ(Bytes(All.begin() + Filler, All.end()), Short) << Count << " bits";
        }
}

TEST_F(Protocol, FrequencySelection) {
    struct TCase {
        int64_t Request, Frequency, Divider;
        uint8_t Select;
    };
    const TCase Cases[] = {
        {3000000, 3000000, 0, 0xA8}, {12000000, 3000000, 0, 0xA8}, {2999999, 1500000, 0, 0xA9},
        {1500000, 1500000, 0, 0xA9}, {750000, 750000, 0, 0xAA},    {749999, 500000, 2, 0xA8},
        {333334, 333333, 3, 0xA8},   {300000, 250000, 4, 0xA8},    {200000, 200000, 5, 0xA8},
        {166667, 166667, 6, 0xA8},   {100000, 100000, 10, 0xA8},   {7813, 7812, 128, 0xA8},
        {1, 1, 1000000, 0xA8},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Request);
        EXPECT_EQ(Link.OnSetFrequency(C.Request, false), C.Frequency);
        EXPECT_EQ(Link.Frequency, C.Frequency);
        EXPECT_EQ(Link.Divider(), C.Divider);
        EXPECT_EQ(Link.RequestedFrequency(), C.Request);
        EXPECT_EQ(Link.QueueLength(), 0u) << "Send false queues nothing";
        Link.OnSetFrequency(C.Request, true);
        EXPECT_THAT(Take(), ElementsAre(C.Select));
    }
}

TEST_F(Protocol, NonPositiveFrequencyIsAClearError) {
    Link.OnSetFrequency(750000, false);
    for (int64_t Bad : {int64_t{0}, int64_t{-5}}) {
        try {
            Link.OnSetFrequency(Bad, true);
            ADD_FAILURE() << "no error for " << Bad;
        } catch (const std::runtime_error& E) {
            EXPECT_THAT(E.what(), HasSubstr("must be positive"));
        }
    }
    EXPECT_EQ(Link.Frequency, 750000) << "a refused request changes nothing";
    EXPECT_EQ(Link.QueueLength(), 0u);
}

TEST_F(Protocol, WaitTimeStreams) {
    Link.UpdateOptions([](TRunOptions& O) { O.SecurityTime = 0; });
    Link.UpdateOptions([](TRunOptions& O) { O.RTwTime = 0; });
    Link.OnWaitTime(false, 1000, 0);
    EXPECT_EQ(Take(), Repeat(0x80, 7));
    Link.OnWaitTime(false, 0, 0);
    EXPECT_EQ(Take(), Repeat(0x80, 1));

    // Slow clock: TMS set, 93 clocks at 93,750 Hz, the speed in effect restored.
    Link.UpdateOptions([](TRunOptions& O) { O.RTwTime = 1; });
    Link.OnSetFrequency(3000000, false);
    Link.OnWaitTime(false, 1000, 0);
    EXPECT_EQ(Take(), Cat({{0xE8, 0xAB}, Repeat(0x30, 23), {0x00, 0xA8}}));
    Link.OnSetFrequency(1500000, false);
    Link.OnWaitTime(true, 1000, 1);
    EXPECT_EQ(Take(), Cat({{0xEC, 0xAB}, Repeat(0x30, 23), {0x00, 0xA9}}));

    // Clocks at the current speed.
    Link.UpdateOptions([](TRunOptions& O) { O.RTwTime = 2; });
    Link.OnSetFrequency(750000, false);
    Link.OnWaitTime(false, 1000, 1);
    EXPECT_EQ(Take(), Cat({Repeat(0x30, 187), {0x10}}));
    // A slow request falls back to clocks at the current (divider) speed even with RTwTime 1.
    Link.UpdateOptions([](TRunOptions& O) { O.RTwTime = 1; });
    Link.OnSetFrequency(50000, false);
    Link.OnWaitTime(false, 100, 1);
    Bytes Clock = Cat({Repeat(0xCE, 20), Repeat(0xCA, 20)});
    Bytes Five;
    for (int I = 0; I < 5; ++I)
        Five.insert(Five.end(), Clock.begin(), Clock.end());
    EXPECT_EQ(Take(), Five);
}

TEST_F(Protocol, WaitMarginRoundsHalvesToEven) {
    // At 3 MHz a wait of T microseconds is 3T clocks, so the clock count shows T exactly.
    auto Clocks = [](const Bytes& Stream) {
        int64_t N = 0;
        for (uint8_t B : Stream)
            N += ((B >> 4) & 3) + 1;
        return N;
    };
    Link.UpdateOptions([](TRunOptions& O) { O.RTwTime = 2; });
    Link.OnSetFrequency(3000000, false);
    struct TCase {
        int32_t Margin;
        int64_t Time, Expected;
    };
    // 3 * 1.5 = 4.5 -> 4; 5 * 1.5 = 7.5 -> 8; 1000 * 2; -100 % leaves nothing to wait.
    const TCase Cases[] = {
        {50, 3, 4}, {50, 5, 8}, {100, 1000, 2000}, {0, 1000, 1000}, {-100, 50, 0}};
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Time);
        Link.UpdateOptions([&](TRunOptions& O) { O.SecurityTime = C.Margin; });
        Link.OnWaitTime(false, C.Time, 0);
        EXPECT_EQ(Clocks(Take()), 3 * C.Expected);
    }
    // The default margin of 100 % doubles a pause wait too: 2000 us = 13 pauses.
    Link.UpdateOptions([](TRunOptions& O) { O.SecurityTime = 100; });
    Link.UpdateOptions([](TRunOptions& O) { O.RTwTime = 0; });
    Link.OnWaitTime(false, 1000, 0);
    EXPECT_EQ(Take(), Repeat(0x80, 13));
}

TEST_F(Protocol, RunClocksFollowsItsOption) {
    Link.UpdateOptions([](TRunOptions& O) { O.SecurityTime = 0; });
    Link.UpdateOptions([](TRunOptions& O) { O.RTwTime = 0; });
    Link.OnSetFrequency(3000000, false);
    Link.UpdateOptions([](TRunOptions& O) { O.RTwCount = 0; });
    Link.OnRunClocks(false, 10, 1);
    EXPECT_THAT(Take(), ElementsAre(0x30, 0x30, 0x10));
    Link.UpdateOptions(
        [](TRunOptions& O) { O.RTwCount = 1; }); // 3000 clocks at 3 MHz = 1000 us = 7 pauses
    Link.OnRunClocks(false, 3000, 0);
    EXPECT_EQ(Take(), Repeat(0x80, 7));
    Link.UpdateOptions([](TRunOptions& O) { O.RTwCount = 2; }); // the count is microseconds
    Link.OnRunClocks(false, 1000, 0);
    EXPECT_EQ(Take(), Repeat(0x80, 7));
    Link.UpdateOptions([](TRunOptions& O) { O.RTwCount = 7; });
    Link.OnRunClocks(false, 1000, 0);
    EXPECT_EQ(Link.QueueLength(), 0u);
}

TEST_F(Protocol, RunClocksAsTimeNeedsAFrequency) {
    Link.UpdateOptions([](TRunOptions& O) { O.RTwCount = 1; });
    EXPECT_THROW(Link.OnRunClocks(false, 100, 0), std::runtime_error);
}

TEST_F(Protocol, TrstKeepsTheTmsLevelOfTheLastPinCommand) {
    std::vector<std::pair<std::string, uint8_t>> Messages;
    Link.QueueMessage = [&](const std::string& T, uint8_t S) { Messages.emplace_back(T, S); };
    Link.UpdateOptions([](TRunOptions& O) { O.PActive = 2; });
    Link.OnSetTrst(true, true);
    EXPECT_EQ(Link.QueueLength(), 0u);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].first, "Warning: TRST pin disabled but SVF file contains TRST command");
    EXPECT_EQ(Messages[0].second, 3);

    Link.UpdateOptions([](TRunOptions& O) { O.PActive = 3; });
    Link.OnClockTms(0, 1); // TAP held in RESET by TMS high
    Take();
    Link.OnSetTrst(true, true);
    EXPECT_THAT(Take(), ElementsAre(0xEF));
    Link.OnSetTrst(false, true);
    EXPECT_THAT(Take(), ElementsAre(0xEE));
    Link.OnClockTms(0, 0);
    Take();
    Link.OnSetTrst(false, false);
    EXPECT_THAT(Take(), ElementsAre(0xE8));
    EXPECT_EQ(Link.PinState(), 0);
    // Later pin commands carry the new state.
    Link.OnSetTrst(true, true);
    Take();
    Shift({1}, {0}, true);
    EXPECT_THAT(Take(), ElementsAre(0xEF, 0xCB, 0xCF));
}

TEST_F(Protocol, FlushWithoutConnectionIsAClearError) {
    Link.OnClockTms(0, 1);
    try {
        Link.OnFlush();
        ADD_FAILURE() << "flush without a connection succeeded";
    } catch (const std::runtime_error& E) {
        EXPECT_THAT(E.what(), HasSubstr("not open"));
    }
    EXPECT_EQ(Link.QueueLength(), 0u);
    Link.OnFlush(); // an empty queue needs no device
}

TEST(LinkDefaults, DefaultFrequencyForEachSetting) {
    EXPECT_EQ(TKorvexLink::DefaultFrequencyFor(0), 3000000);
    EXPECT_EQ(TKorvexLink::DefaultFrequencyFor(1), 1500000);
    EXPECT_EQ(TKorvexLink::DefaultFrequencyFor(2), 750000);
    EXPECT_EQ(TKorvexLink::DefaultFrequencyFor(9), 750000);
}

// The reply count of a USB write classifies sixteen bytes at a time: every command byte, at every
// position of a block and in the tail after the last whole block, counts as its row answers.
TEST(LinkDefaults, ReplyCountOfAWriteMatchesEachCommand) {
    std::vector<uint8_t> Bytes(256 + 37);
    for (size_t I = 0; I < Bytes.size(); ++I)
        Bytes[I] = static_cast<uint8_t>(I * 7 + 3); // every value, each at several offsets
    for (size_t Count : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{17}, Bytes.size()})
        for (size_t From : {size_t{0}, size_t{5}}) {
            if (From + Count > Bytes.size())
                continue;
            int64_t Expected = 0;
            for (size_t I = From; I < From + Count; ++I)
                Expected += korvex::RepliesOf(Bytes[I]);
            EXPECT_EQ(korvex::CountReplies(Bytes.data() + From, Count), Expected)
                << Count << " from " << From;
        }
}
