// The dry run: the real players walk a file with counting events. Its clock count is checked
// against the simulated programmer playing the same file.

#include <gtest/gtest.h>

#include "file_check.h"
#include "jtag_files_list.h"
#include "svf_file.h"
#include "xsvf_asm.h"
#include "xsvf_file.h"

#include "scratch.h"
#include "sim_harness.h"

namespace {

std::string WriteFile(const std::string& Name, const std::string& Text) {
    return SuiteScratch().Write(Name, Text);
}

std::string Bytes(const std::vector<uint8_t>& B) {
    return std::string(B.begin(), B.end());
}

class FileCheck : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSVFFile();
        RegisterXSVFFile();
    }
};

// No FREQUENCY and no time waits: the simulated device's clock count must equal the count of the
// dry run when run_count RUNTESTs are played as clocks.
TEST_F(FileCheck, CountsTheClocksTheProgrammerReallyGives) {
    const std::string Svf = WriteFile("counts.svf", "TRST ABSENT;\nENDIR IDLE;\nENDDR IDLE;\n"
                                                    "STATE RESET;\n"
                                                    "SIR 8 TDI (FE) TDO (01) MASK (03);\n"
                                                    "SDR 32 TDI (00000000) TDO (0A6B5093);\n"
                                                    "RUNTEST 100 TCK;\n"
                                                    "STATE DRPAUSE;\nSTATE IDLE;\n");
    TRunOptions Options;
    Options.RTwCount = 0;
    const TFileCheck C = CheckFile(Svf, Options);
    ASSERT_TRUE(C.Ok) << C.Error;
    EXPECT_EQ(C.FileType, "SVF");
    EXPECT_EQ(C.Statements, 9);
    EXPECT_EQ(C.Scans, 2);
    EXPECT_EQ(C.ScanBits, 40);
    EXPECT_EQ(C.WaitUs, 0);
    EXPECT_DOUBLE_EQ(C.SecondsAtFileFrequency, static_cast<double>(C.TckCycles) / 3e6);

    TSimHarness H;
    TRunOptions LinkOptions = H.Link().Options();
    LinkOptions.RTwCount = 0;
    H.Link().SetOptions(LinkOptions);
    auto Player = TJtagFilesList::Global().CreateForFile(".svf", Svf);
    ASSERT_EQ(H.Play(*Player).Status, 2);
    EXPECT_EQ(C.TckCycles, H.SummaryValue("tck_cycles"));
}

TEST_F(FileCheck, EstimatesAtTheFilesAndTheDefaultFrequency) {
    const std::string Svf = WriteFile("freq.svf", "FREQUENCY 1E6 HZ;\nSTATE RESET;\n"
                                                  "SDR 3000 TDI (0);\nRUNTEST 0.5 SEC;\n");
    TRunOptions Options; // SecurityTime 100: every wait doubled
    const TFileCheck C = CheckFile(Svf, Options);
    ASSERT_TRUE(C.Ok) << C.Error;
    // 1 MHz is not a speed of the programmer: the next lower one plays the file.
    EXPECT_EQ(C.FileFrequencies, std::vector<int64_t>{750000});
    EXPECT_EQ(C.WaitUs, 500000);
    // The reset before the FREQUENCY statement is clocked at the default 3 MHz.
    EXPECT_NEAR(C.SecondsAtFileFrequency, 1.0 + (C.TckCycles - 6) / 750e3 + 6 / 3e6, 1e-9);
    EXPECT_NEAR(C.SecondsAtDefaultFrequency, 1.0 + C.TckCycles / 3e6, 1e-9);
    const std::vector<std::string> Lines = FileCheckLines(Svf, C);
    EXPECT_NE(Lines[2].find("at the file's frequency (750.00 kHz)"), std::string::npos) << Lines[2];
    EXPECT_EQ(Lines.back(), "Check passed: the file can be played");
}

// A file that fails at the board (its read-back differs) is still a file that can be played:
// the check walks all of it.
TEST_F(FileCheck, DoesNotCompareReadBack) {
    const TFileCheck C =
        CheckFile(KORVEX_TEST_DATA "/svf/program_verify_wrong_bit.svf", TRunOptions{});
    EXPECT_TRUE(C.Ok) << C.Error;
    EXPECT_EQ(C.Scans, 3);
}

TEST_F(FileCheck, ReportsTheFirstErrorWithItsLine) {
    const struct {
        std::string File;
        int32_t Line;
        const char* Part;
    } Cases[] = {
        {WriteFile("bad3.svf", "STATE RESET;\n! fine so far\nSDR 8 TDI (1G);\nSDR 8 TDI (1H);\n"),
         3, "not a valid integer"},
        {WriteFile("badstate.svf", "STATE RESET;\nSTATE NOWHERE;\n"), 2, "near line 2"},
        {SuiteScratch().File("missing.svf"), 0, "Cannot open file"},
        {WriteFile("truncated.xsvf", Bytes(AssembleXsvf("XSTATE RESET\n"))), 0, "Fatal error"},
        {WriteFile("unknown.jed", "x"), 0, "No registered class"},
    };
    for (const auto& K : Cases) {
        const TFileCheck C = CheckFile(K.File, TRunOptions{});
        EXPECT_FALSE(C.Ok) << K.File;
        EXPECT_EQ(C.ErrorLine, K.Line) << K.File << ": " << C.Error;
        EXPECT_NE(C.Error.find(K.Part), std::string::npos) << K.File << ": " << C.Error;
        EXPECT_EQ(FileCheckLines(K.File, C).back().rfind("Check failed", 0), 0u);
    }
}

TEST_F(FileCheck, XsvfCommandsAreCounted) {
    const std::string Xsvf =
        WriteFile("idcode.xsvf", Bytes(AssembleXsvf("XREPEAT 0\nXSTATE RESET\nXSTATE IDLE\n"
                                                    "XSIR 8 FE\nXSDRSIZE 32\nXTDOMASK 0FFFFFFF\n"
                                                    "XSDRTDO 00000000 0A6B5093\nXCOMPLETE\n")));
    const TFileCheck C = CheckFile(Xsvf, TRunOptions{});
    ASSERT_TRUE(C.Ok) << C.Error;
    EXPECT_EQ(C.FileType, "XSVF");
    EXPECT_EQ(C.Statements, 8);
    EXPECT_EQ(C.Scans, 2);
    EXPECT_EQ(C.ScanBits, 40);
}

TEST(FormatDuration, PicksAUnitPeopleRead) {
    EXPECT_EQ(FormatDuration(0.4249), "0.42 s");
    EXPECT_EQ(FormatDuration(65.4), "1 min 05 s");
    EXPECT_EQ(FormatDuration(7380), "2 h 03 min");
}

} // namespace
