#include <gtest/gtest.h>

#include "lambda_player.h"
#include "sim_harness.h"

// Whole runs on the simulated programmer: player thread, link, driver binding and simulator.

TEST(SimRun, ReadsTheIdcodeOfTheSimulatedDevice) {
    TSimHarness H("tap irlen=8 idcode=0x0A6B5093 idcode_op=0xFE\n");
    uint64_t Idcode = 0;
    TLambdaPlayer P([&](TLambdaPlayer& Self, TTapDriver& Tap) {
        Idcode = ValueOf(Tap.Scan(false, std::vector<uint8_t>(32, 0)));
        Self.Events.OnMessage("IDCODE read", sevInfo);
    });
    const TSimRun R = H.Play(P);
    EXPECT_EQ(R.Status, 2);
    EXPECT_TRUE(R.Opened);
    EXPECT_EQ(Idcode, 0x0A6B5093u);
    EXPECT_TRUE(R.HasLine("IDCODE read"));
    EXPECT_EQ(R.Trace, "FREQ 3000000\n"
                       "VPP 0\n"
                       "CLOCKS 6\n"
                       "STATE IDLE\n"
                       "SHIFT DR 32 TDI 00000000 TDO 0A6B5093\n"
                       "STATE IDLE\n"
                       // 39 us of commands; on USB four transfers of 250 us (three writes and
                       // the read), the 1 ms latency timer for the short reply packet and the
                       // bytes at 1 MB/s.
                       "TOTAL TCK 44 BYTES 72 WRITES 3 REPLIES 10 US 2106 READS 1 EXEC_US 39\n");
    EXPECT_EQ(H.SummaryValue("errors"), 0);
    EXPECT_FALSE(H.Link().Connected());
}

TEST(SimRun, ScenariosRunOneAfterAnother) {
    TSimHarness H;
    for (uint32_t Id : {0x11111093u, 0x22222093u}) {
        char Config[64];
        std::snprintf(Config, sizeof Config, "tap idcode=0x%08X\n", Id);
        H.Configure(Config);
        uint64_t Read = 0;
        TLambdaPlayer P([&](TLambdaPlayer&, TTapDriver& Tap) {
            Read = ValueOf(Tap.Scan(false, std::vector<uint8_t>(32, 0)));
        });
        EXPECT_EQ(H.Play(P).Status, 2);
        EXPECT_EQ(Read, Id);
    }
}

TEST(SimRun, ProgrammerNotFound) {
    TSimHarness H("no_devices");
    TLambdaPlayer P([](TLambdaPlayer&, TTapDriver&) {});
    const TSimRun R = H.Play(P);
    EXPECT_EQ(R.Status, 1);
    EXPECT_FALSE(R.Opened);
    EXPECT_TRUE(R.HasLine("KORVEX not found"));
}

TEST(SimRun, LinkWarningsReachTheConsoleInOrder) {
    TSimHarness H;
    H.Link().UpdateOptions(
        [](TRunOptions& O) { O.PActive = 2; }); // VPP tristate: TRST commands are not carried out
    TLambdaPlayer P([](TLambdaPlayer& Self, TTapDriver&) {
        Self.Events.OnMessage("before", sevInfo);
        Self.Events.OnSetTrst(true, true);
        Self.Events.OnMessage("after", sevComment);
    });
    const TSimRun R = H.Play(P);
    EXPECT_EQ(R.Status, 2);
    ASSERT_EQ(R.Messages.size(), 3u);
    EXPECT_EQ(R.Lines[0], "before");
    EXPECT_EQ(R.Messages[1].Text, "Warning: TRST pin disabled but SVF file contains TRST command");
    EXPECT_EQ(R.Messages[1].Severity, sevWarning);
    EXPECT_EQ(R.Lines[2], "after");
    EXPECT_TRUE(TraceLines(R.Trace, "VPP").size() == 1) << "VPP set once at open, never by TRST";
}
