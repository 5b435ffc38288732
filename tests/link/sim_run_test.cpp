#include <gtest/gtest.h>

#include "lambda_player.h"
#include "sim_harness.h"

// Whole runs on the simulated programmer: player thread, link, driver binding and simulator.

TEST(SimRun, ReadsTheIdcodeOfTheSimulatedDevice) {
    TSimHarness H("tap irlen=8 idcode=0x0A6B5093 idcode_op=0xFE\n");
    uint64_t Idcode = 0;
    TLambdaPlayer P([&](TLambdaPlayer& Self) {
        Idcode = ValueOf(Self.Scan(false, std::vector<uint8_t>(32, 0), true));
        Self.OnFlush();
    });
    const TSimRun R = H.Play(P);
    EXPECT_EQ(R.Status, 2);
    EXPECT_EQ(Idcode, 0x0A6B5093u);
    EXPECT_NE(R.Trace.find("SHIFT DR 32 TDI 00000000 TDO 0A6B5093\n"), std::string::npos)
        << R.Trace;
    EXPECT_FALSE(H.Link().Connected());
}
