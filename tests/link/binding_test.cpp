#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "sim_harness.h"
#include "usbplow.h"

// The driver binding: choosing and loading a library by name, the entry points, serial strings.

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
    TUsbHandle H = nullptr;
    EXPECT_NE(D.Open(0, KorvexVendorId, KorvexProductId, H), 0) << "no call into nothing";
    uint32_t Written = 0;
    EXPECT_NE(D.Write(H, nullptr, 0, Written), 0);
}

// Which library a load picks: the driver choice, and for auto the variables that name a library.
TEST(Binding, DriverChoice) {
    const std::string Sim = TSimHarness::SimLibrary();
    const std::string D2xxOnly =
        std::string(KORVEX_BROKEN_D2XX_DIR) + "/libbroken_d2xx_none" KORVEX_SHARED_SUFFIX;
    struct TCase {
        const char* Name;
        TDriverChoice Choice;
        std::string D2xx, Libftdi; // the variables, empty = unset
        const char* Driver;        // the backend loaded, "" = the load fails
        std::vector<std::string> ErrorParts;
    };
    const TCase Cases[] = {
        {"auto, KORVEX_D2XX set", TDriverChoice::Auto, Sim, "", "D2XX", {}},
        {"auto, KORVEX_LIBFTDI set", TDriverChoice::Auto, "", Sim, "libftdi1", {}},
        {"auto, both set: D2XX", TDriverChoice::Auto, Sim, Sim, "D2XX", {}},
        {"libftdi chosen over KORVEX_D2XX", TDriverChoice::Libftdi, Sim, Sim, "libftdi1", {}},
        {"d2xx chosen over KORVEX_LIBFTDI", TDriverChoice::D2xx, Sim, Sim, "D2XX", {}},
        {"auto, a named D2XX library that is missing: no fallback",
         TDriverChoice::Auto,
         "/nonexistent/libftd2xx.so",
         Sim,
         "",
         {"D2XX: cannot load /nonexistent/libftd2xx.so"}},
        {"libftdi, missing",
         TDriverChoice::Libftdi,
         "",
         "/nonexistent/libftdi1.so.2",
         "",
         {"libftdi1: cannot load /nonexistent/libftdi1.so.2"}},
        {"libftdi, a D2XX-only library",
         TDriverChoice::Libftdi,
         "",
         D2xxOnly,
         "",
         {"libftdi1: " + D2xxOnly + " has no entry point ftdi_new"}},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
#ifdef _WIN32
        if (std::string(C.Driver) == "libftdi1")
            continue; // the simulator DLL has D2XX entry points only
#endif
        auto Set = [](const char* Variable, const std::string& Value) {
            if (Value.empty())
                unsetenv(Variable);
            else
                setenv(Variable, Value.c_str(), 1);
        };
        Set("KORVEX_D2XX", C.D2xx);
        Set("KORVEX_LIBFTDI", C.Libftdi);
        TUsbDriver D;
        D.Choice = C.Choice;
        EXPECT_EQ(D.LoadUSBDriver(), *C.Driver != 0) << D.LoadError();
        EXPECT_EQ(D.DriverName(), C.Driver);
        if (*C.Driver) {
            EXPECT_EQ(D.DriverDescription(),
                      std::string(C.Driver) + " (" + D.DriverLibrary() + ")");
        }
        for (const std::string& Part : C.ErrorParts)
            EXPECT_NE(D.LoadError().find(Part), std::string::npos) << D.LoadError();
        const std::string Driver = C.Driver;
        EXPECT_EQ(D.DriverLibrary(), Driver == "D2XX"       ? C.D2xx
                                     : Driver == "libftdi1" ? C.Libftdi
                                                            : "");
    }
    unsetenv("KORVEX_D2XX");
    unsetenv("KORVEX_LIBFTDI");
}

TEST(Binding, DriverChoiceNames) {
    struct TCase {
        const char* Name;
        bool Valid;
        TDriverChoice Choice;
    };
    const TCase Cases[] = {
        {"auto", true, TDriverChoice::Auto},       {"d2xx", true, TDriverChoice::D2xx},
        {"D2XX", true, TDriverChoice::D2xx},       {"libftdi", true, TDriverChoice::Libftdi},
        {"LibFTDI", true, TDriverChoice::Libftdi}, {"libftdi1", false, TDriverChoice::Auto},
        {"", false, TDriverChoice::Auto}};
    for (const TCase& C : Cases) {
        EXPECT_EQ(IsDriverChoiceName(C.Name), C.Valid) << C.Name;
        EXPECT_EQ(DriverChoiceFromName(C.Name), C.Choice) << C.Name;
        if (C.Valid) {
            EXPECT_EQ(DriverChoiceFromName(DriverChoiceName(C.Choice)), C.Choice) << C.Name;
        }
    }
}

// The entry points the libftdi backend declares by hand exist under those names in the library
// Debian ships (libftdi1-2), when it is installed.
TEST(Binding, InstalledLibftdiHasEveryEntryPoint) {
    unsetenv("KORVEX_LIBFTDI");
    TUsbDriver D;
    D.Choice = TDriverChoice::Libftdi;
    if (!D.LoadUSBDriver()) {
        if (D.LoadError().find("cannot load") != std::string::npos)
            GTEST_SKIP() << D.LoadError();
        FAIL() << D.LoadError();
    }
    EXPECT_EQ(D.DriverName(), "libftdi1");
    EXPECT_EQ(D.DriverLibrary(), "libftdi1.so.2");
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
            std::string(KORVEX_BROKEN_D2XX_DIR) + "/libbroken_d2xx_" + Name + KORVEX_SHARED_SUFFIX;
        setenv("KORVEX_D2XX", Path.c_str(), 1);
        TUsbDriver D;
        EXPECT_FALSE(D.LoadUSBDriver());
        EXPECT_FALSE(D.Loaded());
        EXPECT_NE(D.LoadError().find(std::string("no entry point ") + Name), std::string::npos)
            << D.LoadError();
    }
    // The same library with nothing missing loads: the refusals above are the missing names.
    setenv(
        "KORVEX_D2XX",
        (std::string(KORVEX_BROKEN_D2XX_DIR) + "/libbroken_d2xx_none" KORVEX_SHARED_SUFFIX).c_str(),
        1);
    TUsbDriver Complete;
    EXPECT_TRUE(Complete.LoadUSBDriver()) << Complete.LoadError();
}

#ifdef _WIN32
// Windows: the automatic choice is FTDI's ftd2xx.dll alone (libftdi1 would need the device moved
// to another USB driver first); the missing-driver message names it and nothing else.
TEST(Binding, AutoChoiceOnWindowsIsD2xxAlone) {
    unsetenv("KORVEX_D2XX");
    unsetenv("KORVEX_LIBFTDI");
    TUsbDriver D;
    EXPECT_FALSE(D.LoadUSBDriver()) << "no FTDI driver in this Wine";
    EXPECT_EQ(D.LoadError().rfind("D2XX: cannot load ftd2xx.dll: ", 0), 0u) << D.LoadError();
    EXPECT_EQ(D.LoadError().find("libftdi1"), std::string::npos) << D.LoadError();
}
#endif

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
