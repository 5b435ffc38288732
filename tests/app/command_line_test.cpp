#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "command_line.h"
#include "open_dialog_filter.h"
#include "scratch.h"

namespace fs = std::filesystem;

TEST(CommandLine, Table) {
    struct Row {
        std::vector<std::string> Args;
        bool P, C, CC;
        std::optional<std::string> F, I, S;
    };
    const std::optional<std::string> None;
    const Row Rows[] = {
        {{"-P", "-F", "a.svf", "-C", "-CC"}, true, true, true, "a.svf", None, None},
        {{"-p", "-f", "a.svf", "-c", "-cc"}, true, true, true, "a.svf", None, None},
        // Exact match only; unknown parameters are ignored.
        {{"-PP", "/P", "-CCC", "P", "--p", "-F1", "x"}, false, false, false, None, None, None},
        {{"-CC"}, false, false, true, None, None, None},
        // A value is the next parameter, whatever it looks like; missing at the end gives "".
        {{"-F", "-P"}, false, false, false, "-P", None, None},
        {{"-P", "-F"}, true, false, false, "", None, None},
        {{"-i", "x.cfg", "-s", "a6012345"}, false, false, false, None, "x.cfg", "a6012345"},
        {{"-F", "a.svf", "-f", "b.xsvf"}, false, false, false, "b.xsvf", None, None},
    };
    for (const Row& R : Rows) {
        const TSessionOptions L = ParseCommandLine(R.Args);
        SCOPED_TRACE(R.Args.front());
        EXPECT_EQ(L.AutoProcess, R.P);
        EXPECT_EQ(L.CloseOnSuccess, R.C);
        EXPECT_EQ(L.CloseOnError, R.CC);
        EXPECT_EQ(L.FileName, R.F);
        EXPECT_EQ(L.IniFileName, R.I);
        EXPECT_EQ(L.Serial, R.S);
    }
}

TEST(CommandLine, SerialNumbers) {
    const struct {
        const char* Text;
        int32_t Value;
    } Rows[] = {
        {"012345", 0x012345},
        {"abcdef", 0xABCDEF},
        {"ABCDEF", 0xABCDEF},
        {"A6012345", 0x012345},
        {"7", 7},
        {"FFFFFFFFFFFFFFFF", 0xFFFFFF},
        {"0000000000000000001", 1},
        {"1FFFFFFFFFFFFFFFF", -1},
        {"", -1},
        {"xyz", -1},
        {"12 34", -1},
        {"0x12", -1},
        {"-1", -1},
        {"$12", -1},
    };
    for (auto R : Rows)
        EXPECT_EQ(ParseSerialNumber(R.Text), R.Value) << R.Text;
}

TEST(CommandLine, SettingsFileNames) {
    const struct {
        const char* Name;
        const char* Ini;
    } Rows[] = {
        {"/opt/k/korvex-player", "/opt/k/korvex-player.ini"},
        {"settings.cfg", "settings.ini"},
        {"/a.d/b", "/a.d/b.ini"},
        {"a.b.cfg", "a.b.ini"},
        {"x.ini", "x.ini"},
    };
    for (auto R : Rows)
        EXPECT_EQ(SettingsFileNameFor(R.Name), R.Ini) << R.Name;
}

#ifndef _WIN32 // XDG_CONFIG_HOME; Windows: Platform.SettingsFileBesideOrInUserFolder
TEST(CommandLine, DefaultSettingsFileBesideOrInConfigFolder) {
    const TScratchFolder Scratch("command-line");
    const fs::path Tmp = Scratch.Path();
    fs::create_directories(Tmp / "bin");
    ::setenv("XDG_CONFIG_HOME", (Tmp / "cfg").c_str(), 1);
    // A writable folder holds the file beside the executable.
    EXPECT_EQ(DefaultSettingsFileName((Tmp / "bin" / "korvex-cli").string()),
              (Tmp / "bin" / "korvex-cli.ini").string());
    EXPECT_EQ(DefaultSettingsFileName((Tmp / "bin" / "korvex-cli").string(), "korvex-player"),
              (Tmp / "bin" / "korvex-player.ini").string());
    // A folder we cannot write to (here: one that does not exist) sends it to the config folder.
    EXPECT_EQ(DefaultSettingsFileName((Tmp / "nowhere" / "korvex-player").string()),
              (Tmp / "cfg" / "korvex" / "korvex-player.ini").string());
    // The package's folder is never used, not even when root could write to it.
    for (const char* Installed : {"/usr/bin/korvex-player", "/usr/local/bin/korvex-player"})
        EXPECT_EQ(DefaultSettingsFileName(Installed),
                  (Tmp / "cfg" / "korvex" / "korvex-player.ini").string())
            << Installed;
    ::unsetenv("XDG_CONFIG_HOME");
}
#endif

TEST(OpenDialogFilter, OneEntryPerTypeAndAllSupported) {
    TJtagFilesList Registry;
    auto None = [](const std::string&, const TKeepLoading&) -> std::unique_ptr<TJtagFile> {
        return nullptr;
    };
    Registry.Register("SVF", None);
    auto One = BuildOpenDialogFilter(Registry);
    EXPECT_EQ(One.Filter, "SVF files (*.svf)|*.SVF");
    EXPECT_EQ(One.FilterIndex, 1);
    Registry.Register("XSVF", None);
    auto Two = BuildOpenDialogFilter(Registry);
    EXPECT_EQ(Two.Filter, "SVF files (*.svf)|*.SVF|XSVF files (*.xsvf)|*.XSVF|"
                          "All supported files|*.SVF;*.XSVF");
    EXPECT_EQ(Two.FilterIndex, 3);
}
