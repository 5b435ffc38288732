#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>

#include "lambda_player.h"
#include "sim_harness.h"

// The link driven by hand against the simulated programmer and its JTAG chain.

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

namespace {

class SimLink : public ::testing::Test {
protected:
    std::unique_ptr<TSimHarness> H;
    TKorvexLink* L = nullptr;
    std::unique_ptr<TTapDriver> Tap;

    void Open(const std::string& Config) {
        H = std::make_unique<TSimHarness>(Config);
        L = &H->Link();
        L->SerialNumber = -1;
        ASSERT_TRUE(L->OpenKorvex());
        Tap = std::make_unique<TTapDriver>(L->Events());
        L->OnSetFrequency(3000000, true);
        for (int I = 0; I < 6; ++I)
            L->OnClockTms(0, 1);
    }
    std::string Close() {
        L->OnFlush();
        L->CloseKorvex();
        return H->TraceText();
    }
    static std::vector<uint8_t> RandomBits(size_t N, unsigned Seed) {
        std::mt19937 Gen(Seed);
        std::vector<uint8_t> Bits(N);
        for (uint8_t& B : Bits)
            B = static_cast<uint8_t>(Gen() & 1);
        return Bits;
    }
};

} // namespace

TEST_F(SimLink, OpenQueuesTheStartSequenceWithTheVppOfTheRun) {
    const uint8_t Expected[] = {0xEE, 0xEF, 0xEC, 0xEC, 0xEE}; // PActive 0 to 4
    TSimHarness Sim;
    TKorvexLink& Link = Sim.Link();
    for (uint8_t Active = 0; Active < 5; ++Active) {
        Link.UpdateOptions([&](TRunOptions& O) { O.PActive = Active; });
        ASSERT_TRUE(Link.OpenKorvex());
        EXPECT_THAT(std::vector<uint8_t>(Link.QueueData(), Link.QueueData() + Link.QueueLength()),
                    ElementsAre(0xA7, 0xA8, 0xB0, 0xB8, Expected[Active]));
        Link.CloseKorvex();
    }
}

TEST_F(SimLink, BytesLeftByAFailedRunAreNotSentToTheNextConnection) {
    TSimHarness Sim;
    TKorvexLink& Link = Sim.Link();
    ASSERT_TRUE(Link.OpenKorvex());
    Link.OnFlush();
    Link.OnClockTms(0, 1); // queued, then the run ends without a flush
    Link.CloseKorvex();
    ASSERT_TRUE(Link.OpenKorvex());
    EXPECT_THAT(std::vector<uint8_t>(Link.QueueData(), Link.QueueData() + Link.QueueLength()),
                ElementsAre(0xA7, 0xA8, 0xB0, 0xB8, 0xEC));
    Link.OnFlush();
    Link.CloseKorvex();
    EXPECT_THAT(TraceLines(Sim.TraceText(), "ERROR"), IsEmpty());
}

TEST_F(SimLink, VppAfterTheRun) {
    struct TCase {
        uint8_t Active, Inactive;
        bool Trst;
        std::vector<std::string> Vpp;
    };
    const TCase Cases[] = {
        {1, 0, false, {"VPP 3", "VPP 2"}},         {1, 2, false, {"VPP 3", "VPP 0"}},
        {0, 1, false, {"VPP 2", "VPP 3"}},         {1, 3, false, {"VPP 3"}}, // kept
        {3, 3, true, {"VPP 0", "VPP 3"}}, // kept, including the state TRST set
        {3, 0, true, {"VPP 0", "VPP 3", "VPP 2"}},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(testing::Message() << int(C.Active) << "/" << int(C.Inactive));
        TSimHarness Sim;
        TKorvexLink& Link = Sim.Link();
        Link.UpdateOptions([&](TRunOptions& O) { O.PActive = C.Active; });
        Link.UpdateOptions([&](TRunOptions& O) { O.PInactive = C.Inactive; });
        ASSERT_TRUE(Link.OpenKorvex());
        if (C.Trst)
            Link.OnSetTrst(true, true);
        Link.OnFlush();
        Link.CloseKorvex();
        EXPECT_EQ(TraceLines(Sim.TraceText(), "VPP"), C.Vpp);
    }
}

TEST_F(SimLink, ChainOfTwoDevices) {
    // The first tap line is next to the programmer's TDI, so the last one's bits come out first.
    Open("tap irlen=8 idcode=0x11111093\ntap irlen=5 idcode=0x22222093 idcode_op=0x1E\n");
    const auto Dr = Tap->Scan(false, std::vector<uint8_t>(64, 0));
    EXPECT_EQ(ValueOf(Dr, 0, 32), 0x22222093u);
    EXPECT_EQ(ValueOf(Dr, 32, 32), 0x11111093u);
    // Each instruction register captures ...01.
    const auto Ir = Tap->Scan(true, std::vector<uint8_t>(13, 1));
    EXPECT_EQ(ValueOf(Ir, 0, 13), 0x21u);
    // All ones: both in BYPASS, one bit of delay each.
    const auto Bits = RandomBits(100, 1);
    const auto Out = Tap->Scan(false, Bits);
    EXPECT_EQ(Out[0], 0);
    EXPECT_EQ(Out[1], 0);
    for (size_t I = 2; I < Bits.size(); ++I)
        ASSERT_EQ(Out[I], Bits[I - 2]) << I;
    const std::string Trace = Close();
    EXPECT_THAT(Trace, HasSubstr("SHIFT IR 13 TDI 1FFF TDO 0021\n"));
    EXPECT_EQ(H->SummaryValue("errors"), 0);
}

TEST_F(SimLink, DataRegisterKeepsWhatWasStored) {
    Open("tap irlen=6 idcode=0x0A6B5093 idcode_op=0x09 data_op=0x05 data_len=48\n");
    Tap->Scan(true, BitsOf(0x05, 6));
    const auto Pattern = RandomBits(48, 2);
    EXPECT_EQ(Tap->Scan(false, Pattern), std::vector<uint8_t>(48, 0)) << "erased at power-up";
    EXPECT_EQ(Tap->Scan(false, std::vector<uint8_t>(48, 0)), Pattern);
    EXPECT_EQ(Tap->Scan(false, Pattern), std::vector<uint8_t>(48, 0));
    // Test-Logic-Reset selects IDCODE again; the stored data survives.
    Tap->Goto(tsRESET);
    EXPECT_EQ(ValueOf(Tap->Scan(false, std::vector<uint8_t>(32, 0))), 0x0A6B5093u);
    Tap->Scan(true, BitsOf(0x05, 6));
    EXPECT_EQ(Tap->Scan(false, Pattern), Pattern);
    Close();
}

TEST_F(SimLink, LongScanWithFullReadBack) {
    // 200,000 captured bits: about 50,000 replies, far beyond the device's 15,872, all from one
    // scan whose read-back can only start after it has been queued.
    Open("");
    L->ReplyTimeout = std::chrono::seconds(5);
    Tap->Scan(true, std::vector<uint8_t>(8, 1)); // BYPASS
    const auto Bits = RandomBits(200000, 3);
    const auto Out = Tap->Scan(false, Bits);
    EXPECT_EQ(Out[0], 0);
    size_t Wrong = 0;
    for (size_t I = 1; I < Bits.size(); ++I)
        Wrong += Out[I] != Bits[I - 1];
    EXPECT_EQ(Wrong, 0u);
    Close();
    EXPECT_EQ(H->SummaryValue("errors"), 0) << "no reply lost in the device";
}

TEST_F(SimLink, SparseCaptureInDividerMode) {
    Open("");
    L->OnSetFrequency(200000, true);
    ASSERT_EQ(L->Divider(), 5);
    Tap->Scan(true, std::vector<uint8_t>(8, 1));
    const auto Bits = RandomBits(3000, 4);
    auto Capture = RandomBits(3000, 5);
    Tap->Queue(false, Bits, Capture);
    const auto Tdo = Tap->Collect(Capture);
    for (size_t I = 1; I < Bits.size(); ++I)
        if (Capture[I]) {
            ASSERT_EQ(Tdo[I], Bits[I - 1]) << I;
        }
    Close();
    EXPECT_EQ(H->SummaryValue("errors"), 0);
}

TEST_F(SimLink, ShortScansWithSparseCaptureInFastMode) {
    // Every length the link takes in one word, with captured bits here and there: each one
    // read back is the bit shifted in one clock earlier (BYPASS), whichever groups answered.
    Open("");
    Tap->Scan(true, std::vector<uint8_t>(8, 1));
    for (size_t Count = 2; Count <= 57; ++Count)
        for (unsigned Seed = 0; Seed < 3; ++Seed) {
            const auto Bits = RandomBits(Count, 100 + Seed);
            auto Capture = RandomBits(Count, 200 + Seed + static_cast<unsigned>(Count));
            Tap->Queue(false, Bits, Capture);
            const auto Tdo = Tap->Collect(Capture);
            for (size_t I = 1; I < Count; ++I)
                if (Capture[I]) {
                    ASSERT_EQ(Tdo[I], Bits[I - 1]) << Count << " bits, bit " << I;
                }
        }
    Close();
    EXPECT_EQ(H->SummaryValue("errors"), 0);
}

TEST_F(SimLink, WriterFarAheadOfItsReader) {
    // Forty scans queued before the first read-back: the flushes must not wait for a reader that
    // has not started, and no reply may be lost in between.
    Open("");
    L->ReplyTimeout = std::chrono::seconds(5);
    Tap->Scan(true, std::vector<uint8_t>(8, 1));
    std::vector<std::vector<uint8_t>> Scans;
    const std::vector<uint8_t> All(4001, 1);
    for (unsigned I = 0; I < 40; ++I) {
        Scans.push_back(RandomBits(4001, 10 + I));
        Tap->Queue(false, Scans.back(), All);
    }
    EXPECT_GT(L->BufferedReplies() + L->PendingReplies(), 15872);
    for (const auto& Bits : Scans) {
        const auto Out = Tap->Collect(All);
        for (size_t I = 1; I < Bits.size(); ++I)
            ASSERT_EQ(Out[I], Bits[I - 1]);
    }
    Close();
    EXPECT_EQ(H->SummaryValue("errors"), 0);
}

TEST_F(SimLink, OneBitScansWithoutExitStayInTheShiftState) {
    Open("");
    Tap->Goto(tsDRSHIFT);
    const uint8_t One = 1, Zero = 0;
    for (int I = 0; I < 3; ++I)
        L->OnShift(&One, &Zero, 1, false);
    const uint8_t Rest = 0x1A, NoCapture = 0; // 0, 1, 0, 1, 1 from bit 0 on
    L->OnShift(&Rest, &NoCapture, 5, true);
    Tap->State = tsDREXIT1;
    Tap->Goto(tsIDLE);
    EXPECT_THAT(TraceLines(Close(), "SHIFT"), ElementsAre("SHIFT DR 8 TDI D7 TDO 93"));
}

TEST_F(SimLink, TrstKeepsTheTapInReset) {
    Open("");
    L->UpdateOptions([](TRunOptions& O) { O.PActive = 3; });
    L->UpdateOptions([](TRunOptions& O) { O.RTwCount = 0; });
    L->OnSetTrst(true, true);
    L->OnRunClocks(false, 8, 1);
    L->OnSetTrst(false, false);
    L->OnRunClocks(false, 4, 1);
    const std::string Trace = Close();
    EXPECT_THAT(TraceLines(Trace, "STATE"), IsEmpty()) << Trace;
    EXPECT_THAT(TraceLines(Trace, "CLOCKS"), ElementsAre("CLOCKS 6", "CLOCKS 8", "CLOCKS 4"));
}

TEST_F(SimLink, ScriptedTdo) {
    const std::string Script =
        SuiteScratch().Write("korvex_script.txt", "DR 32 DEADBEEF\nIR 8 (5A)\nDR 4 F\n");
    Open("tdo_script " + Script + "\n");
    EXPECT_EQ(ValueOf(Tap->Scan(false, std::vector<uint8_t>(32, 0))), 0xDEADBEEFu);
    EXPECT_EQ(ValueOf(Tap->Scan(true, std::vector<uint8_t>(8, 1))), 0x5Au);
    Tap->Scan(false, std::vector<uint8_t>(32, 0)); // the script says 4 bits
    const std::string Trace = Close();
    EXPECT_THAT(Trace, HasSubstr("SHIFT DR 32 TDI 00000000 TDO DEADBEEF\n"));
    EXPECT_THAT(TraceLines(Trace, "ERROR"),
                ElementsAre("ERROR TDO script gives 4 bits, the scan has 32"));
}

TEST_F(SimLink, WaitsBeyondThirtyTwoBitsAreKeptWhole) {
    // 2,400,000,000 clocks at 3 MHz taken as time: 800 s, beyond the 716 s a 32-bit microsecond
    // count holds after tripling; spent as pauses.
    Open("tdo_constant 0");
    L->UpdateOptions([](TRunOptions& O) { O.RTwCount = 1; });
    L->UpdateOptions([](TRunOptions& O) { O.RTwTime = 0; });
    L->UpdateOptions([](TRunOptions& O) { O.SecurityTime = 0; });
    L->OnRunClocks(false, 2400000000LL, 0);
    const std::string Trace = Close();
    const int64_t Us = H->SummaryValue("device_us");
    EXPECT_GE(Us, 800000000);
    EXPECT_LT(Us, 800001000);
    EXPECT_THAT(Trace, HasSubstr("WAIT 80000017"));
}

TEST_F(SimLink, QueueIsWrittenWhenFull) {
    Open("");
    L->OnFlush();
    ASSERT_EQ(L->QueueLength(), 0u);
    for (int I = 0; I < 3967; ++I)
        L->WriteKorvexByte(0x80);
    EXPECT_EQ(L->QueueLength(), 3967u);
    L->WriteKorvexByte(0x80);
    EXPECT_EQ(L->QueueLength(), 0u);
    L->OnFlush(); // nothing queued: no write
    L->CloseKorvex();
    // Start, frequency and reset in one write, the full queue in one, the closing bytes in one.
    EXPECT_EQ(H->SummaryValue("writes"), 3);
}

TEST_F(SimLink, DeviceTimeAndSpeedChanges) {
    Open("usb off");
    L->OnFlush();
    L->CloseKorvex();
    const int64_t Base = H->SummaryValue("device_us");

    // 7,500 clocks at 750 kHz are 10 ms; a 1000 us wait on the slow clock is 93 clocks of
    // 93,750 Hz (992 us); 7 pauses are 1195 us.
    Open("usb off");
    L->OnSetFrequency(750000, true);
    L->UpdateOptions([](TRunOptions& O) { O.RTwCount = 0; });
    L->OnRunClocks(false, 7500, 1);
    L->UpdateOptions([](TRunOptions& O) { O.RTwTime = 1; });
    L->UpdateOptions([](TRunOptions& O) { O.SecurityTime = 0; });
    L->OnWaitTime(false, 1000, 1);
    L->UpdateOptions([](TRunOptions& O) { O.RTwTime = 0; });
    L->OnWaitTime(false, 1000, 1);
    const std::string Trace = Close();
    EXPECT_THAT(TraceLines(Trace, "FREQ"),
                ElementsAre("FREQ 3000000", "FREQ 750000", "FREQ 93750", "FREQ 750000",
                            "FREQ 3000000")); // the closing bytes select 3 MHz
    EXPECT_THAT(TraceLines(Trace, "CLOCKS"), ElementsAre("CLOCKS 6", "CLOCKS 7500", "CLOCKS 93"));
    EXPECT_THAT(TraceLines(Trace, "WAIT"), ElementsAre("WAIT 1195"));
    const int64_t Extra = H->SummaryValue("device_us") - Base;
    EXPECT_NEAR(static_cast<double>(Extra), 10000 + 992 + 1195, 5);
}

TEST_F(SimLink, ProtocolViolationsAreTraced) {
    Open("reply_buffer 100");
    L->ReplyTimeout = std::chrono::milliseconds(200);
    L->WriteKorvexByte(0x93); // never sent by the host: still answers one byte
    L->WriteKorvexByte(0xE3);
    // 1000 captured bits in fast mode are about 250 replies: more than this device holds.
    const std::vector<uint8_t> Bits(1000, 1);
    Tap->Queue(false, Bits, Bits);
    EXPECT_THROW(Tap->Collect(Bits), std::runtime_error);
    const std::string Trace = Close();
    const auto Errors = TraceLines(Trace, "ERROR");
    ASSERT_EQ(Errors.size(), 3u) << Trace;
    EXPECT_EQ(Errors[0], "ERROR unknown command byte 0x93");
    EXPECT_EQ(Errors[1], "ERROR unknown command byte 0xE3");
    EXPECT_THAT(Errors[2], HasSubstr("ERROR reply overflow: the device's buffer of 100 reply"));
}

TEST_F(SimLink, EveryAwaitedReadBackCostsAUsbRoundTrip) {
    // A scan written and its read-back awaited before the next: one write and one read each, and
    // the short reply packet waits for the latency timer. Per scan: two transactions, the
    // latency, a few bytes on the bus and a few microseconds of JTAG.
    struct TRow {
        const char* Config;
        int64_t Low, High; // device time per scan, us
    };
    const std::vector<uint8_t> Tdi = BitsOf(0xA5, 8);
    for (const TRow& Row : {TRow{"", 1500, 1600}, TRow{"usb_latency_us 16000", 16500, 16600},
                            TRow{"usb_transaction_us 1000", 3000, 3100}, TRow{"usb off", 5, 30}}) {
        SCOPED_TRACE(Row.Config);
        int64_t Us[2], Reads[2];
        for (int Scans : {1, 5}) {
            Open(std::string("tdo_constant 1\n") + Row.Config);
            for (int I = 0; I < Scans; ++I)
                Tap->Scan(false, Tdi);
            Close();
            Us[Scans == 5] = H->SummaryValue("device_us");
            Reads[Scans == 5] = H->SummaryValue("reads");
        }
        EXPECT_EQ(Reads[1] - Reads[0], 4);
        const int64_t PerScan = (Us[1] - Us[0]) / 4;
        EXPECT_GE(PerScan, Row.Low);
        EXPECT_LE(PerScan, Row.High);
    }
}
