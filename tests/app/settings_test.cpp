#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <sys/resource.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include "native_file.h"
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
    // A new file gets the system's line ends (CRLF on Windows, where Notepad opens it).
    std::string Expected = "[Params]\nDefFreq=0\nRTwTime=1\nRTwCount=2\nPActive=2\nPInactive=3\n"
                           "SecurityTime=100\nWriteComments=1\nDriver=auto\nLastSerial=-1\n";
    if (std::string(platform::TextLineEnd()) == "\r\n")
        for (size_t I = 0; (I = Expected.find('\n', I)) != std::string::npos; I += 2)
            Expected.insert(I, 1, '\r');
    EXPECT_EQ(Read(), Expected);
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
    EXPECT_EQ(S.Options.PInactive, 3);                         // leading digits count
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

TEST_F(SettingsFile, ReadAsTheProfileServiceReadsIntegers) {
    const struct {
        const char* Text;
        const char* Key;
        int32_t Expected;
    } Rows[] = {
        {"[Params]\nDefFreq=1 ; long cable\n", "DefFreq", 1},
        {"[Params]\nRTwTime=2x\n", "RTwTime", 2},
        {"[Params]\nRTwTime=+0\n", "RTwTime", 0},
        {"[Params]\nRTwTime= x2\n", "RTwTime", 1},
        {"\xEF\xBB\xBF[Params]\nDefFreq=2\n", "DefFreq", 2},
        {"\xEF\xBB\xBF[Params]\r\nRTwCount=0\r\n", "RTwCount", 0},
        {"[Params]\nSecurityTime=-50\n", "SecurityTime", 0},
        {"[Params]\nSecurityTime=-2147483648\n", "SecurityTime", 0},
        {"[Params]\nSecurityTime=250 percent\n", "SecurityTime", 250},
        {"[Params]\nSecurityTime=-\n", "SecurityTime", 100},
        {"[Params]\nWriteComments=0 ; quiet\n", "WriteComments", 0},
    };
    for (const auto& R : Rows) {
        Write(R.Text);
        const TSettings S = ReadSettings(File);
        bool Found = false;
        for (const TRunOptionInfo& Option : RunOptions())
            if (std::string(Option.Key) == R.Key) {
                EXPECT_EQ(Option.Get(S.Options), R.Expected) << R.Text;
                Found = true;
            }
        EXPECT_TRUE(Found) << R.Key;
    }
}

TEST_F(SettingsFile, HundredThousandLinesLoadAndSave) {
    // The key search once went through the section for every line it looked at: a large file
    // took minutes. Linear now, this runs in well under a second.
    std::string Text = "[Params]\n";
    for (int I = 0; I < 100000; ++I)
        Text += "Note" + std::to_string(I) + "=" + std::to_string(I) + "\n";
    Text += "DefFreq=2\n";
    Write(Text);
    TSettings S = ReadSettings(File);
    EXPECT_EQ(S.Options.DefFreq, 2);
    S.Options.DefFreq = 1;
    WriteSettings(File, S);
    EXPECT_EQ(ReadSettings(File).Options.DefFreq, 1);
    EXPECT_EQ(Read().find("Note99999=99999\nDefFreq=1\n"), Text.size() - 26);
}

// Saving replaces the file whole or not at all.
TEST_F(SettingsFile, SaveIsAtomicAndKeepsWhatIsNotOurs) {
    const std::string Foreign = "\xEF\xBB\xBF; hand-written\r\n[Tools]\r\nPath=C:\\x\r\n\r\n"
                                "[Params]\r\nColour=blue\r\nDefFreq=1\r\n";
    const std::string Saved =
        "\xEF\xBB\xBF; hand-written\r\n[Tools]\r\nPath=C:\\x\r\n\r\n"
        "[Params]\r\nColour=blue\r\nDefFreq=2\r\nRTwTime=1\r\n"
        "RTwCount=2\r\nPActive=2\r\nPInactive=3\r\nSecurityTime=100\r\n"
        "WriteComments=1\r\nDriver=auto\r\nLastSerial=-1\r\n[Window]\r\nLeft=5\r\n";
    TSettings Two;
    Two.Options.DefFreq = 2;
    auto Window = [](TIniFile& Ini) { Ini.WriteInteger("Window", "Left", 5); };
    auto FolderNames = [&] {
        std::vector<std::string> Names;
        for (const auto& E : fs::directory_iterator(Dir))
            Names.push_back(E.path().filename().string());
        std::sort(Names.begin(), Names.end());
        return Names;
    };
    const fs::path Real = Dir / "real.ini";
    enum TCheck { Plain, Symlink, Permissions, DiskFull };
    const struct {
        const char* Case;
        TCheck Check;
    } Rows[] = {
        {"foreign lines, CRLF, BOM and the window section in one write", Plain},
#ifndef _WIN32 // no symbolic links, mode bits or file size limits for a user on Windows
        {"symlink kept", Symlink},
        {"permissions kept", Permissions},
        {"disk full: the old file stays", DiskFull},
#endif
    };
    for (const auto& R : Rows) {
        SCOPED_TRACE(R.Case);
        fs::remove(File);
        fs::remove(Real);
        if (R.Check == Symlink) {
            std::ofstream(Real, std::ios::binary) << Foreign;
            fs::create_symlink("real.ini", File);
        } else {
            Write(Foreign);
        }
        if (R.Check == Permissions)
            fs::permissions(File, fs::perms(0640));
        const auto Before = FolderNames();
#ifndef _WIN32
        if (R.Check == DiskFull) {
            // A file size limit stands in for a full disk: the write fails part-way.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit Small{16, RLIM_INFINITY};
            ::setrlimit(RLIMIT_FSIZE, &Small);
        }
#endif
        std::string Error;
        try {
            WriteSettings(File, Two, Window);
        } catch (const std::runtime_error& E) {
            Error = E.what();
        }
#ifndef _WIN32
        rlimit Unlimited{RLIM_INFINITY, RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &Unlimited);
#endif
        EXPECT_EQ(FolderNames(), Before) << "no temporary file is left behind";
        if (R.Check == DiskFull) {
            EXPECT_NE(Error.find(File), std::string::npos) << Error;
            EXPECT_NE(Error.find("left as it was"), std::string::npos) << Error;
            EXPECT_EQ(Read(), Foreign) << "the old file byte for byte";
            continue;
        }
        EXPECT_EQ(Error, "");
        EXPECT_EQ(Read(), Saved);
        if (R.Check == Symlink) {
            EXPECT_TRUE(fs::is_symlink(File));
        }
        if (R.Check == Permissions) {
            EXPECT_EQ(fs::status(File).permissions() & fs::perms::all, fs::perms(0640));
        }
    }
}
