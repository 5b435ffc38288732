#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "command_line.h"
#include "ini_file.h"
#include "native_file.h"
#include "native_path.h"
#include "native_process.h"
#include "scratch.h"
#include "transcript.h"

namespace fs = std::filesystem;

namespace {

// Names a user may give files, in several scripts; written as UTF-8 like every name inside.
const char* const ForeignNames[] = {
    "plain.svf",
    "Gr\xC3\xBC\xC3\x9F"
    "e.svf",                                          // Grüße
    "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.xsvf",      // 日本語
    "\xD0\xBF\xD0\xBB\xD0\xB0\xD1\x82\xD0\xB0 1.svf", // плата 1
    "\xF0\x9F\x98\x80 smile.svf",                     // outside the BMP: a surrogate pair
};

std::string ReadWhole(const std::string& Name) {
    std::ifstream In(platform::PathFromUtf8(Name), std::ios::binary);
    std::ostringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

} // namespace

TEST(Platform, Utf8AndUtf16) {
    const struct {
        const char* Case;
        std::string Utf8;
        std::u16string Utf16;
        std::string Back; // UTF-8 after the round trip
    } Rows[] = {
        {"ascii", "abc.svf", u"abc.svf", "abc.svf"},
        {"latin",
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         u"Gr\u00FC\u00DFe",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"cjk", "\xE6\x97\xA5", u"\u65E5", "\xE6\x97\xA5"},
        {"surrogate pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        {"stray continuation byte",
         "a\x80"
         "b",
         u"a\uFFFDb",
         "a\xEF\xBF\xBD"
         "b"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"cut sequence", "x\xE6\x97", u"x\uFFFD", "x\xEF\xBF\xBD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD", "\xEF\xBF\xBD"},
    };
    for (const auto& R : Rows) {
        SCOPED_TRACE(R.Case);
        const std::wstring Wide = platform::WideFromUtf8(R.Utf8);
        EXPECT_EQ(std::u16string(Wide.begin(), Wide.end()), R.Utf16);
        EXPECT_EQ(platform::Utf8FromWide(Wide), R.Back);
    }
    // A lone high surrogate from a wide name is not dropped silently.
    EXPECT_EQ(platform::Utf8FromWide(std::wstring{L'a', wchar_t(0xD800)}), "a\xEF\xBF\xBD");
}

// Every file call takes the UTF-8 name and reaches the same file, which the system lists under
// that name again.
TEST(Platform, FileNamesInAnyScript) {
    const TScratchFolder Dir("names");
    for (const char* Name : ForeignNames) {
        SCOPED_TRACE(Name);
        const std::string Path = platform::Utf8FromPath(platform::PathFromUtf8(Dir.Path()) /
                                                        platform::PathFromUtf8(Name));
        platform::ReplaceFileContent(platform::PathFromUtf8(Path), "one\n");
        ASSERT_TRUE(platform::AppendToFile(Path, "two\n"));
        EXPECT_EQ(ReadWhole(Path), "one\ntwo\n");
        FILE* Stream = platform::OpenStream(Path, "r");
        ASSERT_NE(Stream, nullptr);
        char Buffer[16] = {};
        EXPECT_EQ(std::fread(Buffer, 1, sizeof Buffer, Stream), 8u) << "binary: no CR added";
        std::fclose(Stream);
        const int Fd = platform::OpenForReading(Path);
        EXPECT_GE(Fd, 0);
        ::close(Fd);
        std::vector<std::string> Listed;
        for (const auto& Entry : fs::directory_iterator(platform::PathFromUtf8(Dir.Path())))
            Listed.push_back(platform::Utf8FromPath(Entry.path().filename()));
        EXPECT_NE(std::find(Listed.begin(), Listed.end(), Name), Listed.end());
        fs::remove(platform::PathFromUtf8(Path));
    }
}

// The settings file: beside the program when its folder is writable (or the file is already
// there), else in the user's settings folder; folder names in any script.
TEST(Platform, SettingsFileBesideOrInUserFolder) {
    const TScratchFolder Dir("settings");
    const fs::path Root = platform::PathFromUtf8(Dir.Path());
#ifdef _WIN32
    const char* UserVariable = "APPDATA";
    const std::string Separator = "\\";
#else
    const char* UserVariable = "XDG_CONFIG_HOME";
    const std::string Separator = "/";
#endif
    const auto Saved = platform::EnvironmentValue(UserVariable);
    const std::string User = platform::Utf8FromPath(Root / platform::PathFromUtf8("\xE7\x94\xA8"));
    platform::SetEnvironmentValue(UserVariable, User);
    const auto In = [&](const std::string& Folder, const std::string& File) {
        return platform::Utf8FromPath(platform::PathFromUtf8(Folder) /
                                      platform::PathFromUtf8(File));
    };
    const std::string Writable = In(Dir.Path(), "Programme \xC3\xA4");
    const std::string Missing = In(Dir.Path(), "missing");
    const std::string Taken = In(Dir.Path(), "taken");
    fs::create_directories(platform::PathFromUtf8(Writable));
    const struct {
        const char* Case;
        std::string Exe, BaseName, Expected;
        bool Prepare; // the settings file is put beside the program first (a folder made later
                      // read-only keeps using it)
    } Rows[] = {
        {"writable folder", In(Writable, "korvex-cli.exe"), "", In(Writable, "korvex-cli.ini"),
         false},
        {"shared name", In(Writable, "korvex-cli.exe"), "korvex-player",
         In(Writable, "korvex-player.ini"), false},
        {"folder that cannot be written", In(Missing, "korvex-cli.exe"), "korvex-player",
         User + Separator + "korvex" + Separator + "korvex-player.ini", false},
        {"file already beside the program", In(Taken, "korvex-cli.exe"), "",
         In(Taken, "korvex-cli.ini"), true},
    };
    for (const auto& R : Rows) {
        SCOPED_TRACE(R.Case);
        if (R.Prepare) {
            fs::create_directories(platform::PathFromUtf8(R.Expected).parent_path());
            platform::ReplaceFileContent(platform::PathFromUtf8(R.Expected), "");
        }
        EXPECT_EQ(DefaultSettingsFileName(R.Exe, R.BaseName), R.Expected);
    }
    // The probe leaves nothing behind in the folder it tried.
    EXPECT_TRUE(fs::is_empty(platform::PathFromUtf8(Writable)));
    platform::SetEnvironmentValue(UserVariable, Saved);
}

// Line ends: a settings file we create, and the transcript, end their lines as the system's text
// tools expect; an existing settings file keeps its own; both read alike.
TEST(Platform, LineEnds) {
    const TScratchFolder Dir("crlf");
    const std::string Eol = platform::TextLineEnd();
#ifdef _WIN32
    EXPECT_EQ(Eol, "\r\n");
#else
    EXPECT_EQ(Eol, "\n");
#endif
    const struct {
        const char* Case;
        const char* Before; // nullptr: no file yet
        std::string After;
    } Rows[] = {
        {"new file", nullptr, "[Run]" + Eol + "DefFreq=3" + Eol},
        {"LF file", "[Run]\nDelay=7\n", "[Run]\nDelay=7\nDefFreq=3\n"},
        {"CRLF file", "[Run]\r\nDelay=7\r\n", "[Run]\r\nDelay=7\r\nDefFreq=3\r\n"},
    };
    for (const auto& R : Rows) {
        SCOPED_TRACE(R.Case);
        const std::string File = Dir.File(std::string(R.Case) + ".ini");
        if (R.Before)
            Dir.Write(std::string(R.Case) + ".ini", R.Before);
        TIniFile Ini(File);
        if (R.Before) {
            EXPECT_EQ(Ini.ReadInteger("run", "delay", -1), 7);
        }
        Ini.WriteInteger("Run", "DefFreq", 3);
        Ini.UpdateFile();
        EXPECT_EQ(ReadWhole(File), R.After);
        EXPECT_EQ(TIniFile(File).ReadInteger("RUN", "DEFFREQ", -1), 3);
    }
    const std::string Log = Dir.File("run \xC3\xBC.log");
    TTranscript T(Log);
    T.Now = [] { return std::chrono::system_clock::time_point{}; };
    ASSERT_TRUE(T.Start("korvex-cli a.svf"));
    ASSERT_TRUE(T.Line("two\nlines", 0));
    EXPECT_EQ(ReadWhole(Log), "1970-01-01T00:00:00Z ==== start: korvex-cli a.svf" + Eol +
                                  "1970-01-01T00:00:00Z      two" + Eol +
                                  "1970-01-01T00:00:00Z      lines" + Eol);
}

#ifdef _WIN32
// The command line as Windows hands it over, split and converted as korvex-cli's arguments are.
TEST(Platform, WindowsCommandLineToUtf8Arguments) {
    const struct {
        std::wstring Line;
        std::vector<std::string> Args;
    } Rows[] = {
        {L"korvex-cli.exe a.svf", {"korvex-cli.exe", "a.svf"}},
        {L"\"C:\\Program Files\\korvex\\korvex-cli.exe\" \"my board.svf\"",
         {"C:\\Program Files\\korvex\\korvex-cli.exe", "my board.svf"}},
        {L"k.exe Gr\u00FC\u00DFe.svf \u65E5\u672C.xsvf",
         {"k.exe",
          "Gr\xC3\xBC\xC3\x9F"
          "e.svf",
          "\xE6\x97\xA5\xE6\x9C\xAC.xsvf"}},
        {L"k.exe \U0001F600.svf", {"k.exe", "\xF0\x9F\x98\x80.svf"}},
        {L"k.exe --ini \"C:\\a b\\\\\" x", {"k.exe", "--ini", "C:\\a b\\", "x"}},
        {L"k.exe say\\\"hi\\\"", {"k.exe", "say\"hi\""}},
    };
    for (const auto& R : Rows)
        EXPECT_EQ(platform::SplitCommandLine(R.Line), R.Args);
}
#endif
