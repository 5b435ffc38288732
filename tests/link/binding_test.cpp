#include <gtest/gtest.h>

#include <cstdlib>

#include "sim_harness.h"
#include "usbplow.h"

// The driver binding: loading by name, the fourteen entry points, serial strings.

TEST(Binding, LoadsTheSimulatorByFileNameOnce) {
    setenv("KORVEX_D2XX", TSimHarness::SimLibrary().c_str(), 1);
    unsetenv("KORVEX_SIM");
    TUsbDriver D;
    EXPECT_EQ(TUsbDriver::LibraryName(), TSimHarness::SimLibrary());
    ASSERT_TRUE(D.LoadUSBDriver()) << D.LoadError();
    EXPECT_TRUE(D.LoadUSBDriver());
    EXPECT_EQ(D.CountDevices(), 1); // the simulator's default programmer
    D.UnloadUSBDriver();
    EXPECT_FALSE(D.Loaded());
    EXPECT_EQ(D.CountDevices(), 0);
}

TEST(Binding, MissingLibraryIsRefused) {
    setenv("KORVEX_D2XX", "/nonexistent/libftd2xx.so", 1);
    TUsbDriver D;
    EXPECT_FALSE(D.LoadUSBDriver());
    EXPECT_FALSE(D.Loaded());
    EXPECT_EQ(D.CountDevices(), 0);
    EXPECT_NE(D.LoadError().find("/nonexistent/libftd2xx.so"), std::string::npos);
    FT_HANDLE H = nullptr;
    EXPECT_NE(D.FT_Open(0, &H), FT_OK) << "no call through a null entry";
}

TEST(Binding, ALibraryLackingAnyEntryPointIsRefused) {
    const char* Names[] = {"FT_Open",
                           "FT_ListDevices",
                           "FT_Close",
                           "FT_Read",
                           "FT_Write",
                           "FT_ResetDevice",
                           "FT_Purge",
                           "FT_GetQueueStatus",
                           "FT_GetStatus",
                           "FT_SetLatencyTimer",
                           "FT_SetBitMode",
                           "FT_GetBitMode",
                           "FT_SetUSBParameters",
                           "FT_GetDeviceInfo"};
    for (const char* Name : Names) {
        SCOPED_TRACE(Name);
        const std::string Path =
            std::string(KORVEX_BROKEN_D2XX_DIR) + "/libbroken_d2xx_" + Name + ".so";
        setenv("KORVEX_D2XX", Path.c_str(), 1);
        TUsbDriver D;
        EXPECT_FALSE(D.LoadUSBDriver());
        EXPECT_FALSE(D.Loaded());
        EXPECT_NE(D.LoadError().find(std::string("no entry point ") + Name), std::string::npos)
            << D.LoadError();
    }
    // The same library with nothing missing loads: the refusals above are the missing names.
    setenv("KORVEX_D2XX", (std::string(KORVEX_BROKEN_D2XX_DIR) + "/libbroken_d2xx_none.so").c_str(),
           1);
    TUsbDriver Complete;
    EXPECT_TRUE(Complete.LoadUSBDriver()) << Complete.LoadError();
}

TEST(Binding, SerialMaskMatching) {
    struct TCase {
        const char *Mask, *Serial;
        bool Match;
    };
    const TCase Cases[] = {
        {"A601????", "A6012345", true},
        {"A601????", "a601abcd", true},
        {"A601????", "A6012", false},
        {"A601????", "A601ZZZZ", true},
        {"A601????", "B6012345", false},
        {"ABCD", "AB?D", true}, // the wildcard counts on both sides
        {"", "", true},
        {"A601????", "", false},
    };
    for (const TCase& C : Cases)
        EXPECT_EQ(MatchSerialMask(C.Mask, C.Serial), C.Match) << C.Mask << " / " << C.Serial;
}

TEST(Binding, SerialValues) {
    struct TCase {
        const char* Serial;
        int32_t Value;
    };
    const TCase Cases[] = {
        {"A6012345", 0x012345},
        {"a601abcd", 0x01ABCD},
        {"A601ZZZZ", -1},
        {"", -1},
        {"FFFFFFFFFFFFFFFF", 0xFFFFFF},
        {"1FFFFFFFFFFFFFFFF", -1}, // 65 bits
        {"00000000000000000A6012345", 0x012345},
        {"A601 234", -1},
    };
    for (const TCase& C : Cases)
        EXPECT_EQ(SerialValueOf(C.Serial), C.Value) << C.Serial;
    EXPECT_EQ(FormatSerial(0x012345), "012345");
    EXPECT_EQ(FormatSerial(static_cast<int32_t>(0xA6012345)), "A6012345");
    EXPECT_EQ(FormatSerial(-1), "FFFFFFFF");
}
