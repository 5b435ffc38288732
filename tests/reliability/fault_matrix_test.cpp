// The fault-injection matrix: one file played through the processing controller, as an unattended
// "-P -F file -C -CC" run, while the simulated programmer misbehaves in one way per case. Every
// case must end in bounded time without a crash, with the programmer closed, and either fail with
// a line that tells the user what went wrong or, where the fault is survivable, pass with exactly
// the JTAG traffic of a clean run.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "driver_env.h"
#include "processing_controller.h"
#include "run_support.h"

using namespace std::chrono_literals;

namespace {

// The IDCODE read and checked, then a 40000-bit scan through the bypass register with every bit
// compared: the long scan takes several queue writes and several rounds of read-back, so faults
// can strike in the middle of one scan.
std::string FaultMatrixFile() {
    // Bypass shifts TDI through one flip-flop that captured 0: TDO bit i is TDI bit i - 1.
    // TDI 1010... (hex A, bit 0 first = 0) comes out as 0,0,1,0,1,0,... = hex ...5554.
    const std::string Tdi(10000, 'A');
    const std::string Tdo = std::string(9999, '5') + "4";
    return "! fault matrix\n"
           "TRST ABSENT;\n"
           "SIR 8 TDI (FE);\n"
           "SDR 32 TDI (00000000) TDO (0A6B5093) MASK (FFFFFFFF);\n"
           "SIR 8 TDI (FF);\n"
           "SDR 40000 TDI (" +
           Tdi + ") TDO (" + Tdo +
           ");\n"
           "SIR 8 TDI (FE);\n"
           "SDR 32 TDI (00000000) TDO (0A6B5093);\n";
}

// The trace without its closing totals (writes and device time differ with the fault).
std::string Traffic(const std::string& Trace) {
    return Trace.substr(0, Trace.find("TOTAL "));
}

bool Has(const std::string& Text, const std::string& Part) {
    return Text.find(Part) != std::string::npos;
}

const std::string LongScanLine = "SHIFT DR 40000 TDI " + std::string(10000, 'A');
const std::string IdcodeLine = "SHIFT DR 32 TDI 00000000 TDO 0A6B5093";

class FaultMatrix : public ::testing::Test {
protected:
    void SetUp() override { File = Run.Folder().Write("faults.svf", FaultMatrixFile()); }

    // The link's own limits, shortened so the failing cases take a fraction of a second; the
    // messages name the limit in force.
    static void ShortLimits(TProcessingController& C) {
        C.Link.WriteTimeout = 400ms;
        C.Link.ReplyTimeout = 400ms;
    }

    TControllerRun Run;
    std::string File;
};

} // namespace

TEST_F(FaultMatrix, CleanRunIsTheReference) {
    const TRunOutcome R = Run.Play(File, "", ShortLimits);
    ASSERT_FALSE(R.Hung);
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(R.Console.back(), "File processing completed successfully");
    EXPECT_TRUE(Has(R.Trace, IdcodeLine)) << R.Trace.substr(0, 2000);
    EXPECT_TRUE(Has(R.Trace, LongScanLine + " TDO " + std::string(9999, '5') + "4"));
    EXPECT_TRUE(Has(R.Trace, "TOTAL ")) << "the programmer was closed";
    EXPECT_FALSE(R.StillConnected);
}

// Faults the link rides out: the run passes and the device sees exactly what a clean run sends.
TEST_F(FaultMatrix, SurvivableFaultsPassWithTheCleanTraffic) {
    const TRunOutcome Clean = Run.Play(File, "", ShortLimits);
    ASSERT_EQ(Clean.ExitCode, 0);
    struct TCase {
        const char* Fault;
        const char* Config;
    };
    const TCase Cases[] = {
        {"partial writes of one byte a call", "write_max 1"},
        {"replies delayed 0 polls", "reply_delay_polls 0"},
        {"replies delayed 1 poll", "reply_delay_polls 1"},
        {"replies delayed 50 polls", "reply_delay_polls 50"},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Fault);
        const TRunOutcome R = Run.Play(File, C.Config, ShortLimits);
        ASSERT_FALSE(R.Hung);
        EXPECT_EQ(R.ExitCode, 0);
        EXPECT_EQ(R.Console.back(), "File processing completed successfully");
        EXPECT_EQ(Traffic(R.Trace), Traffic(Clean.Trace));
        EXPECT_TRUE(Has(R.Trace, "TOTAL ")) << "the programmer was closed";
        EXPECT_FALSE(R.StillConnected);
    }
}

// Faults that end the run: the user is told what failed, the exit code says the run failed, no
// case waits longer than the link's limit allows, and the programmer is released.
TEST_F(FaultMatrix, FatalFaultsFailWithAClearLine) {
    struct TCase {
        const char* Fault;
        const char* Config;
        const char* Line;       // the fatal error line the console shows
        bool IdcodeReadBefore;  // the first IDCODE scan completed on the device before the fault
        bool LongScanCompleted; // the 40000-bit scan left Shift-DR on the device (its replies
                                // may still be missing)
    };
    using korvextest::FailureText, korvextest::TSimFault;
    const std::string WriteFailed =
        "Fatal error " + FailureText(TSimFault::Write) + ": check that it is still connected";
    const std::string Unplugged =
        "Fatal error " + FailureText(TSimFault::WriteGone) + ": check that it is still connected";
    const TCase Cases[] = {
        {"FT_Write fails from the first byte", "write_fail_from 0", WriteFailed.c_str(), false,
         false},
        {"FT_Write fails inside the long scan", "write_fail_from 6000", WriteFailed.c_str(), true,
         false},
        {"replies stop", "reply_delay_ms 600000",
         "Fatal error No read-back data from the KORVEX programmer for 400 ms: check the USB "
         "connection and the target's power",
         true, true},
        {"the device is unplugged inside the long scan", "vanish_after 6000", Unplugged.c_str(),
         true, false},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Fault);
        const TRunOutcome R = Run.Play(File, C.Config, ShortLimits);
        ASSERT_FALSE(R.Hung);
        EXPECT_EQ(R.ExitCode, 1);
        ASSERT_GE(R.Console.size(), 2u);
        EXPECT_EQ(R.Console.back(), "!! ERROR !! File processing failed");
        EXPECT_EQ(R.Console[R.Console.size() - 2], C.Line);
        EXPECT_TRUE(R.WindowClosed) << "-CC closes after a failed run";
        EXPECT_FALSE(R.StillConnected);
        EXPECT_EQ(Has(R.Trace, IdcodeLine), C.IdcodeReadBefore) << R.Trace.substr(0, 400);
        EXPECT_EQ(Has(R.Trace, LongScanLine), C.LongScanCompleted);
    }
}

// FT_Write failing only for the closing bytes: the run itself went through, so it passes; the
// close is best effort and the programmer is released all the same.
TEST_F(FaultMatrix, WriteFailingAtCloseStillPasses) {
    const TRunOutcome Clean = Run.Play(File, "summary " + Run.Folder().Path() + "/clean.sum");
    ASSERT_EQ(Clean.ExitCode, 0);
    const std::string Summary = Run.Folder().Read("clean.sum");
    const auto At = Summary.find("bytes_written ");
    ASSERT_NE(At, std::string::npos) << Summary;
    // The closing sequence is the last write, four bytes.
    const long Bytes = std::stol(Summary.substr(At + 14));
    const TRunOutcome R =
        Run.Play(File, "write_fail_from " + std::to_string(Bytes - 4), ShortLimits);
    ASSERT_FALSE(R.Hung);
    EXPECT_EQ(R.ExitCode, 0);
    EXPECT_EQ(R.Console.back(), "File processing completed successfully");
    EXPECT_EQ(Traffic(R.Trace), Traffic(Clean.Trace));
    EXPECT_FALSE(R.StillConnected);
}

// Nothing reaches a device: the run does not start (exit code 2), with a message box that says
// why, and the window closes as -CC asks.
TEST_F(FaultMatrix, RunsThatCannotStart) {
    struct TCase {
        const char* Fault;
        const char* Config;
        std::string Driver;
        const char* Box;
    };
    const std::string Drivers = KORVEX_REL_DRIVER_DIR;
    const TCase Cases[] = {
        // D2XX must open a device to read its serial, so of one held elsewhere it knows only that
        // it is held; libftdi lists it from its string descriptors, and the open fails on the
        // console. Neither calls it "not found".
        {"the programmer refuses to be opened", "device A6012345 refuse", "",
         korvextest::ThroughLibftdi() ? "" : "KORVEX in use by another program"},
        {"the driver library lacks FT_Write", "", Drivers + "/libd2xx_without_FT_Write.so",
         "USB drivers not found or bad version."},
        {"the driver library lacks FT_GetBitMode (resolved, never called)", "",
         Drivers + "/libd2xx_without_FT_GetBitMode.so", "USB drivers not found or bad version."},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Fault);
        const TRunOutcome R = Run.Play(File, C.Config, ShortLimits, C.Driver);
        ASSERT_FALSE(R.Hung);
        EXPECT_EQ(R.ExitCode, 2);
        if (*C.Box) {
            ASSERT_EQ(R.ErrorBoxes.size(), 1u);
            EXPECT_EQ(R.ErrorBoxes[0].rfind(C.Box, 0), 0u) << R.ErrorBoxes[0];
        } else {
            EXPECT_TRUE(R.ErrorBoxes.empty());
            EXPECT_TRUE(
                R.HasLine("Fatal error: Cannot open KORVEX S/N 012345: in use by another program"));
        }
        EXPECT_TRUE(R.WindowClosed);
        EXPECT_FALSE(R.StillConnected);
        EXPECT_EQ(R.Trace, "") << "no byte reached a programmer";
    }
}

// The XC9500 method waits for every read-back in a loop of its own (shift, flush, poll, retry),
// apart from the pipeline: the link's limits must end that loop too.
TEST_F(FaultMatrix, XsvfUnderTheXc9500MethodFailsCleanly) {
    const unsigned char Program[] = {
        0x07, 0x02,                                           // XREPEAT 2: the XC9500 method
        0x02, 0x08, 0xFE,                                     // XSIR 8 bits: IDCODE
        0x08, 0x00, 0x00, 0x00, 0x20,                         // XSDRSIZE 32
        0x01, 0xFF, 0xFF, 0xFF, 0xFF,                         // XTDOMASK: every bit
        0x09, 0,    0,    0,    0,    0x0A, 0x6B, 0x50, 0x93, // XSDRTDO 0 / the IDCODE
        0x00,                                                 // XCOMPLETE
    };
    const std::string Xsvf = Run.Folder().Write(
        "xc9500.xsvf", std::string(reinterpret_cast<const char*>(Program), sizeof Program));
    const std::string Warning = "Warning: Using XC9500 programming method.";

    const TRunOutcome Clean = Run.Play(Xsvf, "", ShortLimits);
    ASSERT_FALSE(Clean.Hung);
    EXPECT_EQ(Clean.ExitCode, 0);
    EXPECT_TRUE(Clean.HasLine(Warning));
    EXPECT_EQ(Clean.Console.back(), "File processing completed successfully");
    EXPECT_TRUE(Has(Clean.Trace, IdcodeLine));

    struct TCase {
        const char* Fault;
        const char* Config;
        std::string Line;
    };
    const TCase Cases[] = {
        {"replies stop", "reply_delay_ms 600000",
         "Fatal error No read-back data from the KORVEX programmer for 400 ms: check the USB "
         "connection and the target's power"},
        {"the device is unplugged before the IDCODE scan", "vanish_after 40",
         "Fatal error " + korvextest::FailureText(korvextest::TSimFault::WriteGone) +
             ": check that it is still connected"},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Fault);
        const TRunOutcome R = Run.Play(Xsvf, C.Config, ShortLimits);
        ASSERT_FALSE(R.Hung);
        EXPECT_EQ(R.ExitCode, 1);
        ASSERT_GE(R.Console.size(), 2u);
        EXPECT_EQ(R.Console[R.Console.size() - 2], C.Line);
        EXPECT_EQ(R.Console.back(), "!! ERROR !! File processing failed");
        EXPECT_FALSE(R.StillConnected);
    }
}
