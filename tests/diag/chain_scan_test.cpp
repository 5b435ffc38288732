// The chain scan through the programmer link on simulated chains, and the part table.

#include <gtest/gtest.h>

#include "chain_scan.h"
#include "korvex_link.h"
#include "sim_harness.h"

namespace {

TChainScan ScanSimulated(TSimHarness& H) {
    TKorvexLink& L = H.Link();
    L.ChooseKorvex = [&L] {
        const std::vector<int32_t> Serials = L.ListKorvexSerials();
        L.SerialNumber = Serials.empty() ? -1 : Serials.front();
        return !Serials.empty();
    };
    L.ShowError = [](const std::string&) {};
    if (!L.FindKorvex())
        return {};
    return ScanChainThrough(L, 3000000);
}

struct TChainCase {
    const char* Name;
    const char* Config;
    int IrLength;
    std::vector<uint32_t> Idcodes;  // 0 = BYPASS, TDI end first
    std::vector<std::string> Parts; // "" = not in the table
};

class ChainScan : public ::testing::TestWithParam<TChainCase> {};

TEST_P(ChainScan, FindsEveryDeviceInChainOrder) {
    const TChainCase& C = GetParam();
    TSimHarness H(C.Config);
    const TChainScan S = ScanSimulated(H);
    ASSERT_TRUE(S.Ok) << S.Error;
    EXPECT_EQ(S.IrLength, C.IrLength);
    ASSERT_EQ(S.Devices.size(), C.Idcodes.size());
    for (size_t I = 0; I < C.Idcodes.size(); ++I) {
        const TChainDevice& D = S.Devices[I];
        EXPECT_EQ(D.Position, static_cast<int>(I + 1));
        EXPECT_EQ(D.HasIdcode, C.Idcodes[I] != 0) << "device " << I + 1;
        EXPECT_EQ(D.Idcode, C.Idcodes[I]) << "device " << I + 1;
        EXPECT_EQ(D.Part ? D.Part->Name : "", C.Parts[I]) << "device " << I + 1;
    }
    // The scan leaves the TAPs reset, so a file played next starts from a known state.
    const std::string Trace = H.TraceText();
    EXPECT_EQ(Trace.rfind("STATE RESET"), Trace.rfind("STATE "));
}

INSTANTIATE_TEST_SUITE_P(
    Simulated, ChainScan,
    ::testing::Values(TChainCase{"Default", "", 8, {0x0A6B5093}, {""}},
                      TChainCase{"MixedFourDevices",
                                 "tap irlen=8 idcode=0x59604093\n"
                                 "tap irlen=5 idcode=none\n"
                                 "tap irlen=4 idcode=0x4BA00477\n"
                                 "tap irlen=6 idcode=0x0362D093\n",
                                 23,
                                 {0x59604093, 0, 0x4BA00477, 0x0362D093},
                                 {"XC9572XL", "", "ARM Cortex-A9 debug port", "XC7A35T"}},
                      TChainCase{"OnlyBypass",
                                 "tap irlen=2 idcode=none\ntap irlen=3 idcode=none\n",
                                 5,
                                 {0, 0},
                                 {"", ""}},
                      TChainCase{"LongIr",
                                 "tap irlen=38 idcode=0x036DB093\ntap irlen=10 idcode=0x020F30DD\n",
                                 48,
                                 {0x036DB093, 0x020F30DD},
                                 {"", "EP3C25/EP4CE22/10CL025"}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(ChainScanFaults, BrokenChainsAreReportedNotMisread) {
    const struct {
        const char* Config;
        const char* Error;
    } Cases[] = {
        {"tdo_constant 1\n", "TDO stays high"},
        {"tdo_constant 0\n", "TDO stays low"},
    };
    for (const auto& C : Cases) {
        TSimHarness H(C.Config);
        const TChainScan S = ScanSimulated(H);
        EXPECT_FALSE(S.Ok) << C.Config;
        EXPECT_NE(S.Error.find(C.Error), std::string::npos) << C.Config << S.Error;
    }
}

// The measured total against the parts' own instruction lengths: a chain whose parts are all
// known but do not add up is reported (a device missing from the table's view, a wrong BSDL).
TEST(ChainReport, WarnsWhenThePartsDoNotAddUp) {
    TChainScan S;
    S.Ok = true;
    for (uint32_t Id : {0x59604093u, 0x0000081Bu}) { // 8 + 8 bits
        TChainDevice D;
        D.HasIdcode = true;
        D.Idcode = Id;
        D.Part = TJtagPartTable::BuiltIn().PartOf(Id);
        S.Devices.push_back(D);
    }
    for (int Ir : {16, 17}) {
        S.IrLength = Ir;
        const bool Warned =
            ChainReportLines(S).back().find("add up to 16 bits") != std::string::npos;
        EXPECT_EQ(Warned, Ir != 16) << Ir;
    }
}

// Catches typing errors in the data file: every IDCODE ends in the 1 the standard requires and
// names a maker the table knows, and no two entries claim the same IDCODE.
TEST(PartTable, EveryBuiltInPartIsAWellFormedIdcodeOfAKnownMaker) {
    const TJtagPartTable& T = TJtagPartTable::BuiltIn();
    ASSERT_GE(T.Parts().size(), 36u);
    for (const TJtagPart& P : T.Parts()) {
        EXPECT_EQ(P.Idcode & 1, 1u) << P.Name;
        EXPECT_NE(T.MakerOf(P.Idcode), nullptr) << P.Name;
        EXPECT_GT(P.IrLength, 1) << P.Name;
        EXPECT_EQ(T.PartOf(P.Idcode), &P) << P.Name << " is shadowed by an earlier entry";
    }
}

TEST(PartTable, ReadsItsFormatAndRefusesMalformedLines) {
    const TJtagPartTable T("maker\t2\t0x10\tSomeone # comment\n\n"
                           "part\t0x00001121\t0x0FFFFFFF\t4\tWidget\n");
    ASSERT_NE(T.MakerOf(0x30001121), nullptr); // bank 2: bits 11..8 = 1
    EXPECT_EQ(T.MakerOf(0x30001121)->Name, "Someone");
    EXPECT_EQ(T.MakerOf(0x30001021), nullptr); // the same code in bank 1
    ASSERT_NE(T.PartOf(0x30001121), nullptr);
    EXPECT_EQ(T.PartOf(0x30001121)->Name, "Widget"); // revision ignored under the mask
    EXPECT_EQ(T.PartOf(0x30001123), nullptr);
    for (const char* Bad : {"part\t0x1\t0x1\tWidget\n", "maker\t0\t0x10\tX\n",
                            "maker\t1\t0x80\tX\n", "part\tzz\t0x1\t4\tW\n", "thing\t1\n"})
        EXPECT_THROW(TJtagPartTable{Bad}, std::runtime_error) << Bad;
}

} // namespace
