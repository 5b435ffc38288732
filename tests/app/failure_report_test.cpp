// Readable failures: the players' mismatch reports end in the values as an SVF file writes them
// (and, for XSVF, the failing command), and the run report picks them up.

#include <gtest/gtest.h>

#include "jtag_files_list.h"
#include "run_report.h"
#include "scratch.h"
#include "sim_harness.h"
#include "svf_file.h"
#include "xsvf_asm.h"
#include "xsvf_file.h"

namespace {

std::string WriteBytes(const std::string& Name, const std::vector<uint8_t>& B) {
    return SuiteScratch().Write(Name, std::string(B.begin(), B.end()));
}

std::vector<uint8_t> Text(const std::string& S) {
    return std::vector<uint8_t>(S.begin(), S.end());
}

TEST(FailureReport, EveryPlayerNamesTheFailingValuesInHex) {
    RegisterSVFFile();
    RegisterXSVFFile();
    const std::string Idcode = "XSTATE RESET\nXSIR 8 FE\nXSDRSIZE 32\nXTDOMASK 0FFFFFFF\n"
                               "XSDRTDO 00000000 0A6B5193\nXCOMPLETE\n";
    const struct {
        const char* Name;
        std::string File;
        TRunFailure Expected;
    } Cases[] = {
        {"SVF",
         KORVEX_TEST_DATA "/svf/program_verify_wrong_bit.svf",
         {"Failing SDR statement near line 12", 12, "", "5EC0FFEF", "5EC0FFEE", "FFFFFFFF"}},
        // Header and trailer bits are part of the scan: the compared bits sit in the middle.
        {"SVF header and trailer",
         WriteBytes("hdr.svf", Text("HDR 4 TDI (0) TDO (0) MASK (0);\nTDR 4 TDI (0);\n"
                                    "SIR 8 TDI (FE);\nSDR 32 TDI (0) TDO (0A6B5193);\n")),
         {"Failing SDR statement near line 4", 4, "", "00A6B51930", "000A6B5090", "0FFFFFFFF0"}},
        {"XSVF pipelined",
         WriteBytes("id.xsvf", AssembleXsvf("XREPEAT 0\n" + Idcode)),
         {"Failing XSVF command #6 XSDRTDO", 0, "#6 XSDRTDO", "0A6B5193", "0A6B5093", "0FFFFFFF"}},
        {"XSVF XC9500 method",
         WriteBytes("id9500.xsvf", AssembleXsvf("XREPEAT 2\n" + Idcode)),
         {"XSDRTDO operation failed after maximum retries", 0, "#6 XSDRTDO", "0A6B5193", "0A6B5093",
          "0FFFFFFF"}},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TSimHarness H;
        const std::string Ext = C.File.substr(C.File.rfind('.'));
        auto Player = TJtagFilesList::Global().CreateForFile(Ext, C.File);
        const TSimRun Run = H.Play(*Player);
        EXPECT_EQ(Run.Status, 1);
        TFailureCollector F;
        for (const TSimMessage& M : Run.Messages)
            F.Line(M.Text, M.Severity);
        F.Line("!! ERROR !! File processing failed", sevError);
        const TRunFailure& R = F.Failure();
        EXPECT_EQ(R.Message, C.Expected.Message);
        EXPECT_EQ(R.Line, C.Expected.Line);
        EXPECT_EQ(R.Command, C.Expected.Command);
        EXPECT_EQ(R.Expected, C.Expected.Expected);
        EXPECT_EQ(R.Read, C.Expected.Read);
        EXPECT_EQ(R.Mask, C.Expected.Mask);
    }
}

} // namespace
