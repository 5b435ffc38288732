#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "driver_env.h"
#include "lambda_player.h"
#include "sim_harness.h"

// Faults injected in the simulated programmer, played as whole runs: each must end with a clear
// error line (or succeed where the fault is survivable), never hang, and leave the link closed.

using ::testing::HasSubstr;

namespace {

// Reads the IDCODE and then shifts a long scan with full read-back, so that writes, partial
// writes and several rounds of replies all happen.
TLambdaPlayer::TBody IdcodeAndLongScan(uint64_t& Idcode, bool& LongScanRight) {
    return [&Idcode, &LongScanRight](TLambdaPlayer&, TTapDriver& Tap) {
        Idcode = ValueOf(Tap.Scan(false, std::vector<uint8_t>(32, 0)));
        Tap.Scan(true, std::vector<uint8_t>(8, 1));
        std::vector<uint8_t> Bits(20000);
        for (size_t I = 0; I < Bits.size(); ++I)
            Bits[I] = static_cast<uint8_t>((I * 7 / 3) & 1);
        const auto Out = Tap.Scan(false, Bits);
        LongScanRight = true;
        for (size_t I = 1; I < Bits.size(); ++I)
            LongScanRight = LongScanRight && Out[I] == Bits[I - 1];
    };
}

std::string WithoutTotals(const std::string& Trace) {
    return Trace.substr(0, Trace.find("TOTAL "));
}

} // namespace

TEST(Faults, SurvivableFaultsGiveTheSameRun) {
    TSimHarness H;
    uint64_t Idcode = 0;
    bool Right = false;
    TLambdaPlayer Clean(IdcodeAndLongScan(Idcode, Right));
    ASSERT_EQ(H.Play(Clean).Status, 2);
    const std::string CleanTrace = H.TraceText();
    const int64_t CleanBytes = H.SummaryValue("bytes_written");

    const char* Configs[] = {
        "write_max 7",          // partial writes: the rest follows, nothing twice
        "write_max 1000",       //
        "reply_delay_polls 25", // replies trickle in late
        "reply_delay_ms 15",
    };
    for (const char* Config : Configs) {
        SCOPED_TRACE(Config);
        H.Configure(Config);
        Idcode = 0;
        Right = false;
        TLambdaPlayer P(IdcodeAndLongScan(Idcode, Right));
        const TSimRun R = H.Play(P);
        EXPECT_EQ(R.Status, 2);
        EXPECT_EQ(Idcode, 0x0A6B5093u);
        EXPECT_TRUE(Right);
        EXPECT_EQ(WithoutTotals(R.Trace), WithoutTotals(CleanTrace));
        EXPECT_EQ(H.SummaryValue("bytes_written"), CleanBytes);
        EXPECT_EQ(H.SummaryValue("errors"), 0);
    }
}

TEST(Faults, FatalFaultsEndTheRunWithAClearError) {
    struct TCase {
        const char* Config;
        std::string Message;
    };
    using korvextest::FailureText, korvextest::TSimFault;
    const TCase Cases[] = {
        {"write_fail_from 100",
         "Fatal error " + FailureText(TSimFault::Write) + ": check that it is still connected"},
        {"write_fail_from 0", "Fatal error Cannot write to the KORVEX programmer"},
        {"vanish_after 3000", "Fatal error Cannot "},
        {"vanish_after 10", "Fatal error Cannot "},
        {"reply_delay_ms 600000",
         "Fatal error No read-back data from the KORVEX programmer for 300 ms"},
        {"fail_queue_status", "Fatal error " + FailureText(TSimFault::QueueStatus)},
        {"fail_read", "Fatal error " + FailureText(TSimFault::Read)},
    };
    TSimHarness H;
    H.Link().WriteTimeout = std::chrono::milliseconds(300);
    H.Link().ReplyTimeout = std::chrono::milliseconds(300);
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Config);
        H.Configure(C.Config);
        uint64_t Idcode = 0;
        bool Right = false;
        TLambdaPlayer P(IdcodeAndLongScan(Idcode, Right));
        // The fault is noticed where it happens, not by a time-out: the message names it.
        const TSimRun R = H.Play(P, 3000000, std::chrono::seconds(20));
        EXPECT_EQ(R.Status, 1);
        ASSERT_FALSE(R.Messages.empty());
        EXPECT_THAT(R.Messages.back().Text, HasSubstr(C.Message));
        EXPECT_EQ(R.Messages.back().Severity, sevError);
        EXPECT_FALSE(R.HasLine("did not end in time"));
        EXPECT_FALSE(H.Link().Connected());
    }
}

TEST(Faults, FrequencyOfZeroFailsTheRun) {
    TSimHarness H;
    TLambdaPlayer P([](TLambdaPlayer& Self, TTapDriver&) { Self.Events.OnSetFrequency(0, true); });
    const TSimRun R = H.Play(P);
    EXPECT_EQ(R.Status, 1);
    EXPECT_TRUE(R.HasLine("Fatal error Cannot set a TCK frequency of 0 Hz: the frequency must be "
                          "positive"));
}
