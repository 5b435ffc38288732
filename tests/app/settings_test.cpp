#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include "scratch.h"
#include "settings.h"

namespace fs = std::filesystem;

namespace {
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override { File = (Dir / "korvex-player.ini").string(); }
    void Write(const std::string& Text) { std::ofstream(File, std::ios::binary) << Text; }
    std::string Read() {
        std::ifstream In(File, std::ios::binary);
        std::stringstream S;
        S << In.rdbuf();
        return S.str();
    }
    TScratchFolder Scratch{"settings"};
    fs::path Dir{Scratch.Path()};
    std::string File;
};
} // namespace

TEST_F(SettingsFile, FirstStartWithoutFileGivesDefaultsAndWritesAllKeys) {
    const TSettings S = ReadSettings(File);
    EXPECT_EQ(S.Options.DefFreq, 0);
    EXPECT_EQ(S.Options.RTwTime, 1);
    EXPECT_EQ(S.Options.RTwCount, 2);
    EXPECT_EQ(S.Options.PActive, 2);
    EXPECT_EQ(S.Options.PInactive, 3);
    EXPECT_EQ(S.LastSerial, -1);
    EXPECT_EQ(S.Options.SecurityTime, 100);
    EXPECT_TRUE(S.Options.WriteComments);
    WriteSettings(File, S);
    // LastSerial is written even when it is -1, last, in the write order.
    EXPECT_EQ(Read(), "[Params]\nDefFreq=0\nRTwTime=1\nRTwCount=2\nPActive=2\nPInactive=3\n"
                      "SecurityTime=100\nWriteComments=1\nDriver=auto\nLastSerial=-1\n");
}

TEST_F(SettingsFile, RewriteInPlaceKeepsEveryOtherLine) {
    Write("; written by hand\n[Other]\nDefFreq=9\n\n[params]\n  rtwtime = 0  \nLastSerial=77\n"
          "Colour=blue\n\n[Tail]\nX=1");
    TSettings S = ReadSettings(File);
    EXPECT_EQ(S.Options.DefFreq, 0) << "a key of another section is not ours";
    EXPECT_EQ(S.Options.RTwTime, 0)
        << "names are case-insensitive, blanks around the value ignored";
    EXPECT_EQ(S.LastSerial, 77);
    S.Options.RTwTime = 2;
    S.LastSerial = 0x012345;
    WriteSettings(File, S);
    EXPECT_EQ(Read(), "; written by hand\n[Other]\nDefFreq=9\n\n[params]\nRTwTime=2\n"
                      "LastSerial=74565\nColour=blue\nDefFreq=0\nRTwCount=2\nPActive=2\n"
                      "PInactive=3\nSecurityTime=100\nWriteComments=1\nDriver=auto\n\n[Tail]\nX=1");
    // Writing the same values again changes nothing.
    const std::string Once = Read();
    WriteSettings(File, ReadSettings(File));
    EXPECT_EQ(Read(), Once);
}

// Driver is kept by name; a number in range or a name in any case reads too.
TEST_F(SettingsFile, DriverByName) {
    struct TCase {
        const char* Value;
        uint8_t Driver;
        const char* Written;
    };
    const TCase Cases[] = {{"libftdi", 2, "libftdi"}, {"D2XX", 1, "d2xx"}, {"auto", 0, "auto"},
                           {"1", 1, "d2xx"},          {"7", 0, "auto"},    {"ftdi", 0, "auto"}};
    for (const TCase& C : Cases) {
        Write(std::string("[Params]\nDriver=") + C.Value + "\n");
        const TSettings S = ReadSettings(File);
        EXPECT_EQ(S.Options.Driver, C.Driver) << C.Value;
        WriteSettings(File, S);
        EXPECT_NE(Read().find(std::string("\nDriver=") + C.Written + "\n"), std::string::npos)
            << Read();
    }
}

TEST_F(SettingsFile, WindowsLineEndsStay) {
    Write("[Params]\r\nDefFreq=1\r\n");
    TSettings S = ReadSettings(File);
    EXPECT_EQ(S.Options.DefFreq, 1);
    WriteSettings(File, S);
    const std::string Text = Read();
    EXPECT_EQ(Text.rfind("[Params]\r\nDefFreq=1\r\nRTwTime=1\r\n", 0), 0u) << Text;
    EXPECT_EQ(Text.substr(Text.size() - 15), "LastSerial=-1\r\n");
}

TEST_F(SettingsFile, ValuesCutToAByteOrReplacedByDefaults) {
    Write("[Params]\nDefFreq=258\nRTwTime=abc\nRTwCount=\nPActive=-1\nPInactive=3x\n"
          "SecurityTime=99999999999\nLastSerial=-1509874875\nWriteComments=0\n");
    const TSettings S = ReadSettings(File);
    EXPECT_EQ(S.Options.DefFreq, 2);                           // low 8 bits of 258
    EXPECT_EQ(S.Options.RTwTime, 1);                           // not a number: the default
    EXPECT_EQ(S.Options.RTwCount, 2);                          // empty: the default
    EXPECT_EQ(S.Options.PActive, 255);                         // low 8 bits of -1
    EXPECT_EQ(S.Options.PInactive, 3);                         // trailing garbage: the default
    EXPECT_EQ(S.Options.SecurityTime, 100);                    // does not fit 32 bits: the default
    EXPECT_EQ(S.LastSerial, static_cast<int32_t>(0xA6012345)); // the dialog's form, signed
    EXPECT_FALSE(S.Options.WriteComments);
}

TEST_F(SettingsFile, UnwritableFileIsReportedByName) {
    fs::create_directories(File); // a folder where the file should be: no one can write it
    try {
        WriteSettings(File, TSettings{});
        FAIL() << "no exception";
    } catch (const std::runtime_error& E) {
        EXPECT_NE(std::string(E.what()).find(File), std::string::npos) << E.what();
    }
}

TEST_F(SettingsFile, CreatesTheConfigFolder) {
    const std::string Deep = (Dir / "cfg" / "korvex" / "korvex-player.ini").string();
    WriteSettings(Deep, TSettings{});
    EXPECT_EQ(ReadSettings(Deep).Options.PInactive, 3);
    EXPECT_TRUE(fs::exists(Deep));
}
