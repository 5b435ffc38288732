// Reading, decoding and the pre-scan of XSVF files, and the assembler that writes the test files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "jtag_files_list.h"
#include "xsvf_file.h"
#include "xsvf_test_files.h"

namespace {

std::string ErrorOf(const std::string& Path) {
    try {
        TXSVFFile F(Path);
    } catch (const std::exception& E) {
        return E.what();
    }
    return "";
}

} // namespace

TEST(XsvfDecoder, Xsdrsize32AndTheByteOrderOfValues) {
    TXSVFFile F(MakeXsvf("order.xsvf", "XSDRSIZE 32\nXSDR 12345678\nXCOMPLETE\n"));
    TXSVFCommand C;
    F.ReadCommand(C);
    ASSERT_EQ(C.HeadSize, 5u);
    EXPECT_EQ(C.Head[0], XSDRSIZE);
    EXPECT_EQ(BigEndian32(C, 1), 32u);
    F.Decode(C);
    EXPECT_EQ(F.SdrSize, 32u);
    F.ReadCommand(C);
    ASSERT_EQ(C.FileBytes, 5);
    ASSERT_EQ(F.TdiValue.BitLength(), 32);
    // The value's last byte in the file holds bit 0, the first bit shifted (a 0 of 0x78).
    EXPECT_EQ(F.TdiValue.GetByte(0), 0x78);
    EXPECT_EQ(F.TdiValue.GetByte(3), 0x12);
    EXPECT_FALSE(F.TdiValue.GetBit(0));
    EXPECT_TRUE(F.TdiValue.GetBit(3));
}

TEST(XsvfDecoder, CommandLengthsFollowTheOpcodeAndTheSizeInForce) {
    struct TCase {
        const char* Description; // its last command is the one measured
        size_t Size;
    } Cases[] = {
        {"XSIR 0 0", 2},
        {"XSIR 9 1FF", 4},
        {"XSIR 255 1", 2 + 32},
        {"XCOMMENT", 2},
        {"XCOMMENT ab c", 6},
        {"XTDOMASK FF", 2}, // before any XSDRSIZE the mask is 8 bits
        {"XSDRSIZE 0\nXSDR 0", 1},
        {"XSDRSIZE 0\nXTDOMASK 0", 1},
        {"XSDRSIZE 9\nXSDR 1FF", 3},
        {"XSDRSIZE 12\nXSDRTDO 123 ABC", 5},
        {"XSDRSIZE 12\nXSDRTDOE 123 ABC", 5},
        {"XRUNTEST 1000", 5},
        {"XREPEAT 0", 2},
        {"XSTATE 6", 2},
        {"XENDDR 1", 2},
        {"XCOMPLETE", 1},
    };
    for (const auto& K : Cases) {
        SCOPED_TRACE(K.Description);
        TXSVFFile F(MakeXsvf("len.xsvf", std::string(K.Description) + "\nXCOMPLETE\n"));
        TXSVFCommand C;
        const int Commands = static_cast<int>(F.ProgressMax()) - 1;
        for (int I = 0; I < std::max(Commands, 1); ++I) {
            F.ReadCommand(C);
            F.Decode(C);
        }
        EXPECT_EQ(C.FileBytes, static_cast<int64_t>(K.Size));
    }
}

TEST(XsvfDecoder, ValuesSpanningTheReadBufferLoadIntact) {
    // 2000-bit values cross several 512-byte blocks of the file.
    std::string Tdi, Tdo;
    for (int I = 0; I < 250; ++I) {
        char B[3];
        std::snprintf(B, sizeof B, "%02X", I);
        Tdi += B;
        std::snprintf(B, sizeof B, "%02X", 255 - I);
        Tdo += B;
    }
    const std::string Body = "XCOMMENT " + std::string(300, 'x') + "\nXSDRSIZE 2000\n" +
                             "XSDRTDO " + Tdi + " " + Tdo + "\nXSDRTDO " + Tdo + " " + Tdi +
                             "\nXCOMPLETE\n";
    TXSVFFile F(MakeXsvf("long.xsvf", Body));
    EXPECT_EQ(F.ProgressMax(), 5);
    TXSVFCommand C;
    for (int I = 0; I < 3; ++I) {
        F.ReadCommand(C);
        F.Decode(C);
    }
    ASSERT_EQ(C.FileBytes, 501);
    for (int I = 0; I < 250; ++I) {
        ASSERT_EQ(F.TdiValue.GetByte(I), 249 - I);
        ASSERT_EQ(F.TdoExpected.GetByte(I), 6 + I);
    }
    F.ReadCommand(C);
    EXPECT_EQ(F.TdiValue.GetByte(249), 0xFF); // the second XSDRTDO starts with the other pattern
    F.ReadCommand(C);
    EXPECT_EQ(C.Head[0], XCOMPLETE);
    EXPECT_EQ(C.FileBytes, 1);
}

// Each copy loads only the values it uses and passes over the others; values longer than the
// reader's block are read around it (and passed by seeking). Whatever the mix, every kept value
// comes out whole, a skipped one keeps its length without storage, and the command after it is
// read from the right place.
TEST(XsvfDecoder, KeptAndSkippedValuesOfEveryLengthLeaveTheReaderInStep) {
    const auto Hex = [](int64_t Bytes, int Seed) {
        std::string S;
        for (int64_t I = 0; I < Bytes; ++I) {
            char B[3];
            std::snprintf(B, sizeof B, "%02X", static_cast<unsigned>((I * 7 + Seed) & 0xFF));
            S += B;
        }
        return S;
    };
    const TXSVFFile::TKeptValues Roles[] = {
        {true, true, true}, {true, false, true}, {false, true, true}, {false, false, false}};
    for (const int64_t Bytes : {int64_t{1}, int64_t{4095}, int64_t{40000}, int64_t{100001}}) {
        const int64_t Bits = Bytes * 8 - 3;
        const std::string Body = "XCOMMENT " + std::string(Bytes % 997, 'c') + "\nXSDRSIZE " +
                                 std::to_string(Bits) + "\nXTDOMASK " + Hex(Bytes, 1) +
                                 "\nXSDRTDO " + Hex(Bytes, 2) + " " + Hex(Bytes, 3) +
                                 "\nXRUNTEST 0x01020304\nXCOMPLETE\n";
        const std::string Path = MakeXsvf("kept.xsvf", Body);
        for (const auto& Role : Roles) {
            SCOPED_TRACE(std::to_string(Bytes) + " bytes, kept " + std::to_string(Role.Tdi) +
                         std::to_string(Role.Expected) + std::to_string(Role.Mask));
            TXSVFFile F(Path);
            F.Kept = Role;
            TXSVFCommand C;
            for (int I = 0; I < 4; ++I) {
                F.ReadCommand(C);
                F.Decode(C);
            }
            EXPECT_EQ(C.FileBytes, 1 + 2 * Bytes);
            const std::pair<const TVarLen*, std::pair<bool, int>> Values[] = {
                {&F.TdoMask, {Role.Mask, 1}},
                {&F.TdiValue, {Role.Tdi, 2}},
                {&F.TdoExpected, {Role.Expected, 3}}};
            for (const auto& [Value, How] : Values) {
                ASSERT_EQ(Value->BitLength(), Bits);
                if (!How.first) {
                    EXPECT_EQ(Value->StoredBytes(), 0);
                    continue;
                }
                ASSERT_EQ(Value->StoredBytes(), Bytes);
                // Storage byte 0 is the file's last byte of the value.
                for (int64_t I = 0; I < Bytes; ++I)
                    ASSERT_EQ(Value->GetByte(Bytes - 1 - I), (I * 7 + How.second) & 0xFF) << I;
            }
            F.ReadCommand(C);
            F.Decode(C);
            EXPECT_EQ(F.RunTestTime, 0x01020304u);
            F.ReadCommand(C);
            EXPECT_TRUE(F.IsComplete(C));
        }
    }
}

TEST(XsvfPreScan, RefusesUnknownOpcodesWithTheirHexCode) {
    for (const char* Op : {"05", "06", "1D", "FF"}) {
        SCOPED_TRACE(Op);
        const auto Path = MakeXsvf("unknown.xsvf", std::string("XSDRSIZE 8\nXSDR 5A\nBYTES ") + Op +
                                                       "\nXCOMPLETE\n");
        EXPECT_EQ(ErrorOf(Path), std::string("Unknown command ") + Op);
    }
}

TEST(XsvfPreScan, RefusesAFileThatEndsEarly) {
    struct TCase {
        const char* Description;
        const char* Message;
    } Cases[] = {
        {"", "Unexpected end of file: the file has no XCOMPLETE command"},
        {"XSDRSIZE 8\nXSDR 01", "Unexpected end of file: the file has no XCOMPLETE command"},
        {"XSDRSIZE 16\nBYTES 09 12 34 56", "Unexpected end of file inside command XSDRTDO"},
        {"BYTES 08 00 00", "Unexpected end of file inside command XSDRSIZE"},
        {"BYTES 02 09 FF", "Unexpected end of file inside command XSIR"},
        {"BYTES 16 41 42", "Unexpected end of file inside command XCOMMENT"},
        {"BYTES 04", "Unexpected end of file inside command XRUNTEST"},
    };
    for (const auto& K : Cases) {
        SCOPED_TRACE(K.Description);
        EXPECT_EQ(ErrorOf(MakeXsvf("short.xsvf", K.Description)), K.Message);
    }
}

bool HostileLengthsAreRefused() {
    return ErrorOf(MakeXsvf("huge.xsvf", "XSDRSIZE 0xFFFFFFFF\nBYTES 03 00\nXCOMPLETE\n")) ==
               "Unexpected end of file inside command XSDR" &&
           // A length no command uses is no error.
           ErrorOf(MakeXsvf("unused.xsvf", "XSDRSIZE 0xFFFFFFFF\nXSDRSIZE 8\n"
                                           "XSDR 5A\nXCOMPLETE\n")) == "" &&
           // A length that fits the file but not its remaining bytes is a truncation.
           ErrorOf(MakeXsvf("big.xsvf", "XSDRSIZE 256\nXCOMMENT " + std::string(40, 'c') +
                                            "\nBYTES 09 00\n")) ==
               "Unexpected end of file inside command XSDRTDO";
}

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Run in a child whose address space can grow by 64 MiB at most: a pre-scan that allocated what a
// length of 0xFFFFFFFF bits asks for (512 MiB a buffer) dies there instead of passing slowly.
[[noreturn]] void WithAddressSpaceBoundBy64MiB(const std::function<bool()>& Body) {
    long Pages = 0;
    if (std::FILE* Statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(Statm, "%ld", &Pages) != 1)
            Pages = 0;
        std::fclose(Statm);
    }
    const rlim_t Limit = static_cast<rlim_t>(Pages) * ::sysconf(_SC_PAGESIZE) + (64u << 20);
    const rlimit Bound{Limit, Limit};
    if (Pages == 0 || ::setrlimit(RLIMIT_AS, &Bound) != 0)
        std::_Exit(3);
    std::_Exit(Body() ? 0 : 1);
}

TEST(XsvfPreScan, AHostileLengthFailsWithoutAllocating) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(WithAddressSpaceBoundBy64MiB(HostileLengthsAreRefused),
                ::testing::ExitedWithCode(0), "");
}
#else
// Without a bound on the address space (another system, or a sanitizer that reserves terabytes)
// only the outcomes are checked.
TEST(XsvfPreScan, AHostileLengthFailsWithoutAllocating) {
    EXPECT_TRUE(HostileLengthsAreRefused());
}
#endif

TEST(XsvfPreScan, CountsCommandsUpToXcompleteAndIgnoresWhatFollows) {
    EXPECT_EQ(TXSVFFile(MakeXsvf("one.xsvf", "XCOMPLETE")).ProgressMax(), 1);
    // Bytes after XCOMPLETE are never read, not even an opcode that would be refused.
    TXSVFFile F(MakeXsvf("tail.xsvf", "XSDRSIZE 8\nXSDR 1\nXRUNTEST 5\nXCOMPLETE\nBYTES 17 0A\n"));
    EXPECT_EQ(F.ProgressMax(), 4);
    EXPECT_EQ(F.Progress(), 0);
    EXPECT_EQ(F.GetFileType(), "XSVF");
}

TEST(XsvfPreScan, XrepeatOfTwoOrMoreSelectsTheXc9500Method) {
    struct TCase {
        const char* Repeats;
        bool Method;
    } Cases[] = {
        {"XREPEAT 0", false}, {"XREPEAT 1", false},           {"XREPEAT 2", true},
        {"XREPEAT 32", true}, {"XREPEAT 2\nXREPEAT 1", true}, {"XREPEAT 0\nXREPEAT 0", false},
    };
    for (const auto& K : Cases) {
        SCOPED_TRACE(K.Repeats);
        TXSVFFile F(MakeXsvf("rep.xsvf",
                             std::string("XSDRSIZE 8\nXSDR 0\n") + K.Repeats + "\nXCOMPLETE\n"));
        EXPECT_EQ(F.XC9500Method, K.Method);
    }
}

TEST(XsvfDecoder, ParameterCommandsSetTheirFields) {
    TXSVFFile F(MakeXsvf("par.xsvf", "XENDIR 1\nXENDDR 7\nXRUNTEST 0x01020304\nXREPEAT 3\n"
                                     "XTDOMASK C3\nXSDRSIZE 16\nXENDIR 0\nXENDDR 0\nXCOMPLETE\n"));
    std::vector<std::pair<std::string, int>> Messages;
    F.Events.OnMessage = [&](const std::string& T, uint8_t S) { Messages.emplace_back(T, S); };
    F.XC9500Method = false; // as a copy decodes it for itself
    TXSVFCommand C;
    auto Step = [&] {
        F.ReadCommand(C);
        F.Decode(C);
    };
    Step();
    EXPECT_EQ(F.EndIR, tsIRPAUSE);
    Step();
    EXPECT_EQ(F.EndDR, tsDRPAUSE);
    Step();
    EXPECT_EQ(F.RunTestTime, 0x01020304u);
    Step();
    EXPECT_EQ(F.RepeatCount, 3);
    EXPECT_TRUE(F.XC9500Method);
    ASSERT_EQ(Messages.size(), 1u);
    EXPECT_EQ(Messages[0].first, "Warning: Using XC9500 programming method.");
    EXPECT_EQ(Messages[0].second, 3);
    Step();
    Step(); // the mask grows to 16 bits with the first value that needs it
    EXPECT_EQ(F.SdrSize, 16u);
    EXPECT_EQ(F.TdoMask.ByteCount(), 1);
    EXPECT_EQ(F.TdoMask.GetByte(0), 0xC3);
    Step();
    Step();
    EXPECT_EQ(F.EndIR, tsIDLE);
    EXPECT_EQ(F.EndDR, tsIDLE);
    EXPECT_FALSE(F.IsComplete(TXSVFCommand{}));
    int Flushes = 0;
    F.Events.OnFlush = [&] { ++Flushes; };
    Step();
    EXPECT_TRUE(F.IsComplete(C));
    EXPECT_TRUE(F.IsComplete(C));
    EXPECT_EQ(Flushes, 2); // every time it is asked
}

TEST(XsvfPreScan, MissingFileAndRegistration) {
    EXPECT_EQ(ErrorOf("/nonexistent/x.xsvf"), "Cannot open file /nonexistent/x.xsvf for read.");
    // A folder opens but cannot be read: a read error, not a file that ends early. Windows does
    // not open a folder as a file at all.
    const std::string Dir = std::string(::testing::TempDir()) + "xsvfdir.xsvf";
    std::filesystem::create_directories(Dir);
#ifdef _WIN32
    EXPECT_EQ(ErrorOf(Dir), "Cannot open file " + Dir + " for read.");
#else
    EXPECT_EQ(ErrorOf(Dir), "Cannot read file " + Dir + ": Is a directory");
#endif
    RegisterXSVFFile();
    RegisterXSVFFile();
    int Records = 0;
    for (const auto& R : TJtagFilesList::Global().Records())
        Records += R.TypeName == "XSVF";
    EXPECT_EQ(Records, 1);
    const auto P =
        TJtagFilesList::Global().CreateForFile(".xsvf", MakeXsvf("reg.xsvf", "XCOMPLETE"));
    EXPECT_EQ(P->GetFileType(), "XSVF");
}

TEST(XsvfAssembler, WritesCommandsAndRefusesWhatItCannotEncode) {
    EXPECT_EQ(
        AssembleXsvf("XSDRSIZE 12 # twelve\nXSDRTDO 1_23 abc\nXSTATE DRPAUSE\nXENDDR DRPAUSE"),
        (std::vector<uint8_t>{0x08, 0, 0, 0, 12, 0x09, 0x01, 0x23, 0x0A, 0xBC, 0x12, 6, 0x14, 1}));
    EXPECT_EQ(AssembleXsvf("XCOMMENT a b\n"), (std::vector<uint8_t>{0x16, 'a', ' ', 'b', 0}));
    for (const char* Bad : {"XSDR 1FF", "XSDRSIZE 8\nXSDRTDO 1", "XSTATE 16", "XSIR 256 0",
                            "XRUNTEST 0x100000000", "XFOO", "XSDR zz"}) {
        SCOPED_TRACE(Bad);
        EXPECT_THROW(AssembleXsvf(Bad), std::runtime_error);
    }
    try {
        AssembleXsvf("XCOMPLETE\n\nXSDR 123\n");
        FAIL();
    } catch (const std::exception& E) {
        EXPECT_EQ(std::string(E.what()).rfind("line 3: ", 0), 0u);
    }
}
