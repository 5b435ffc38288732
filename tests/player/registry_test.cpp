#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "jtag_files_list.h"
#include "scratch.h"
#include "test_player.h"

namespace {

class TOtherPlayer : public TTestPlayer {
public:
    using TTestPlayer::TTestPlayer;
    static std::string FileType() { return "OTHER"; }
};

std::string Message(const TJtagFilesList& L, const std::string& Ext) {
    try {
        L.CreateForFile(Ext, "/nonexistent");
    } catch (const std::exception& E) {
        return E.what();
    }
    return "";
}

} // namespace

TEST(Registry, NormalisesTheExtension) {
    TJtagFilesList L;
    L.Register<TTestPlayer>();
    L.Register("Other", [](const std::string&, const TKeepLoading&) -> std::unique_ptr<TJtagFile> {
        throw std::runtime_error("other chosen");
    });
    struct {
        const char* Ext;
        const char* Error; // what CreateForFile reports for a missing file
    } Rows[] = {
        {"tst", "Cannot open file /nonexistent for read."},
        {".TST", "Cannot open file /nonexistent for read."},
        {".Tst", "Cannot open file /nonexistent for read."},
        {"TST", "Cannot open file /nonexistent for read."},
        {".other", "other chosen"},
        {"..tst", "No registered class for file type \".TST\""},
        {"", "No registered class for file type \"\""},
        {".txt", "No registered class for file type \"TXT\""},
        {".tst ", "No registered class for file type \"TST \""},
    };
    for (auto R : Rows)
        EXPECT_EQ(Message(L, R.Ext), R.Error) << R.Ext;
}

TEST(Registry, FirstRecordOfANameWinsAndOrderIsKept) {
    TJtagFilesList L;
    L.Register("A", [](const std::string&, const TKeepLoading&) -> std::unique_ptr<TJtagFile> {
        throw std::runtime_error("first");
    });
    L.Register("a", [](const std::string&, const TKeepLoading&) -> std::unique_ptr<TJtagFile> {
        throw std::runtime_error("second");
    });
    EXPECT_EQ(Message(L, ".a"), "first");
    ASSERT_EQ(L.Records().size(), 2u);
    EXPECT_EQ(L.Records()[1].TypeName, "a");
}

TEST(Registry, ExtensionComesFromTheLastPathComponent) {
    EXPECT_EQ(ExtractFileExt("a.svf.txt"), ".txt");
    EXPECT_EQ(ExtractFileExt("/x/dir.d/file"), "");
    EXPECT_EQ(ExtractFileExt("/x/dir/file.XSVF"), ".XSVF");
    EXPECT_EQ(ExtractFileExt(""), "");
    EXPECT_EQ(AsciiUpper("aZ.\xe4"), "AZ.\xe4");
}

TEST(Registry, BuildsThePlayerOfTheType) {
    const std::string Path = SuiteScratch().Write("registry.tst", "MSG hello\n");
    TJtagFilesList L;
    L.Register<TOtherPlayer>();
    L.Register<TTestPlayer>();
    auto P = L.CreateForFile(ExtractFileExt(Path), Path);
    ASSERT_TRUE(P);
    EXPECT_EQ(P->GetFileType(), "TST");
    EXPECT_EQ(P->ProgressMax(), 1);
    std::remove(Path.c_str());
}
