// The bad-input table: damaged, hostile and odd vector files played with korvex-cli on the
// simulated programmer, each in a child process that is killed if it does not end and, outside
// sanitizer builds, cannot take more than 1 GB of address space. Every row names what the
// user sees: the lines before the outcome (the fatal error and the line it points at), the exit
// code, and proves the run ended on its own within a small memory budget.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "run_support.h"
#include "svf_file.h"
#include "xsvf_file.h"

using namespace std::chrono_literals;

namespace {

std::string Repeated(const std::string& Piece, int Times) {
    std::string Out;
    for (int I = 0; I < Times; ++I)
        Out += Piece;
    return Out;
}

const std::string Failed = "!! ERROR !! File processing failed";
const std::string Passed = "File processing completed successfully";

// Peak resident memory a run of these small files may reach: the program, the simulator and the
// players' buffers. Sanitizer builds carry shadow memory and quarantine on top.
int64_t RssBudgetKb() {
    return UnderSanitizer() ? 1024 * 1024 : 256 * 1024;
}

struct TRow {
    std::string Name;
    std::string File;               // path of the file to play
    int ExitCode;                   // 0 passed, 1 failed, 2 did not start
    std::vector<std::string> Lines; // the output after "Using KORVEX ..." and "Reading file ..."
};

void CheckRow(const TScratchFolder& Folder, const TRow& Row) {
    SCOPED_TRACE(Row.Name);
    const TCliOutcome R = RunCli(Folder, Row.File, 30s);
    ASSERT_FALSE(R.Hung) << "the run did not end in 30 s";
    EXPECT_EQ(R.ExitCode, Row.ExitCode) << R.Out << R.Err;
    EXPECT_EQ(R.Lines(), Row.Lines) << R.Out.substr(0, 2000) << R.Err;
    EXPECT_LT(R.PeakRssKb, RssBudgetKb());
    EXPECT_EQ(R.Err.find("ERROR: AddressSanitizer"), std::string::npos) << R.Err;
    EXPECT_EQ(R.Err.find("runtime error"), std::string::npos) << R.Err;
}

std::string Bad(const std::string& Name) {
    return std::string(KORVEX_BAD_DATA) + "/" + Name;
}

std::string Quoted(const std::string& Line) {
    return "\"" + Line + "\"";
}

} // namespace

TEST(BadInput, SvfTable) {
    TScratchFolder Folder("bad-svf");
    // A single line of ten megabytes: one statement whose hexadecimal value holds far more
    // digits than its 8 bits; the extra digits are dropped and the run goes through.
    const std::string TenMb = Folder.Write(
        "ten_mb_line.svf", "SIR 8 TDI (FE); SDR 8 TDI (" + std::string(10 << 20, 'F') + ");");
    const TRow Rows[] = {
        {"parallel vectors",
         Bad("unknown_command.svf"),
         1,
         {"Fatal error Unsupported SVF command PIO: parallel vectors: the KORVEX drives JTAG only "
          "near line 2",
          Quoted("PIO (HLX);"), Failed}},
        {"unknown keyword",
         Bad("unknown_keyword.svf"),
         1,
         {"Fatal error Unknown keyword FOO near line 2", Quoted("TRST ON FOO;"), Failed}},
        {"hexadecimal value without parentheses",
         Bad("hex_without_parentheses.svf"),
         1,
         {"Fatal error Hexadecimal number is not enclosed in parentheses. near line 2",
          Quoted("SDR 8 TDI 12;"), Failed}},
        {"hexadecimal value with a bad digit",
         Bad("hex_bad_digit.svf"),
         1,
         {"Fatal error '$1G' is not a valid integer value", Failed}},
        {"more hexadecimal digits than the length",
         Bad("hex_more_digits_than_length.svf"),
         0,
         {"! the 1 beyond the 8 bits of the IR scan is dropped", Passed}},
        {"a length beyond 32 bits",
         Bad("length_beyond_32_bits.svf"),
         1,
         {"Fatal error '4294967296' is not a valid integer value", Failed}},
        {"a huge length",
         Bad("huge_length.svf"),
         1,
         {"Fatal error Scan length 2147483647 is longer than 268435456 bits near line 2",
          Quoted("SDR 2147483647 TDI (00);"), Failed}},
        {"header, scan and trailer too long together",
         Bad("huge_scan_with_header_and_trailer.svf"),
         1,
         {"Fatal error Scan of 270000000 bits with header and trailer is longer than 268435456 "
          "bits near line 3",
          Quoted("SDR 90000000;"), Failed}},
        {"a negative length",
         Bad("negative_length.svf"),
         1,
         {"Fatal error Scan length -8 is negative near line 2", Quoted("SDR -8 TDI (00);"),
          Failed}},
        {"MAXIMUM without SEC",
         Bad("maximum_without_sec.svf"),
         1,
         {"Fatal error Keyword MAXIMUM without keyword SEC near line 1",
          Quoted("RUNTEST 1E-3 SEC MAXIMUM 1E-2 TCK;"), Failed}},
        {"MAXIMUM as the last words",
         Bad("maximum_at_the_end.svf"),
         1,
         {"Fatal error List index out of bounds (5)", Failed}},
        {"a scan without its length",
         Bad("missing_length.svf"),
         1,
         {"Fatal error 'TDI' is not a valid integer value", Failed}},
        {"SEC without its number",
         Bad("missing_seconds.svf"),
         1,
         {"Fatal error '' is not a valid floating point value", Failed}},
        {"a scan with nothing after it",
         Bad("missing_everything.svf"),
         1,
         {"Fatal error List index out of bounds (1)", Failed}},
        {"the last statement without its semicolon",
         Bad("missing_semicolon.svf"),
         1,
         {"Fatal error Unknown keyword __EOF near line 2",
          Quoted("SDR 32 TDI (00000000) TDO (0A6B5093)"), Failed}},
        {"a comment that runs into the end of the file",
         Bad("unterminated_comment.svf"),
         0,
         {"! the last line has no end", Passed}},
        {"a comment that cuts off the last statement",
         Bad("unterminated_comment_in_statement.svf"),
         1,
         {"! the statement never ends", "Fatal error Unknown keyword __EOF near line 1",
          Quoted("SIR 8 TDI (FE) ! the statement never ends"), Failed}},
        {"a NUL byte inside a hexadecimal value (a separator)", Bad("nul_in_hex.svf"), 0, {Passed}},
        {"a file of 0 bytes", Bad("empty.svf"), 0, {Passed}},
        {"scans of no bits",
         Bad("scan_of_no_bits.svf"),
         0,
         {"! scans of no bits clock nothing and leave the TAP in the shift state", Passed}},
        {"a file of one 10 MB line", TenMb, 0, {Passed}},
        {"a word of a megabyte",
         Folder.Write("long_word.svf",
                      "SIR 8 TDI (FE);\nSDR 8 TDI (00) " + std::string(1 << 20, 'K') + ";\n"),
         1,
         {"Fatal error Unknown keyword " + std::string(80, 'K') + "... near line 2",
          // The line quotes the word as the message does.
          Quoted("SDR 8 TDI (00) " + std::string(80, 'K') + "..."), Failed}},
        {"a long line of short words: its first 256 characters",
         Folder.Write("long_line.svf",
                      "SIR 8 TDI (FE);\nSDR 8 TDI (00)" + Repeated(" AB", 200) + ";\n"),
         1,
         {"Fatal error Unknown keyword AB near line 2",
          Quoted(("SDR 8 TDI (00)" + Repeated(" AB", 200)).substr(0, 256) + "..."), Failed}},
    };
    for (const TRow& Row : Rows)
        CheckRow(Folder, Row);
}

// A NUL byte in a keyword splits it; the line shown with the error holds the NUL as it stands in
// the file.
TEST(BadInput, SvfNulInKeyword) {
    TScratchFolder Folder("bad-nul");
    const TCliOutcome R = RunCli(Folder, Bad("nul_in_keyword.svf"), 30s);
    ASSERT_FALSE(R.Hung);
    EXPECT_EQ(R.ExitCode, 1);
    const std::vector<std::string> L = R.Lines();
    ASSERT_EQ(L.size(), 3u) << R.Out;
    EXPECT_EQ(L[0], "Fatal error Unknown SVF command S near line 2");
    EXPECT_EQ(L[1], Quoted(std::string("S\0DR 8;", 7)));
    EXPECT_EQ(L[2], Failed);
}

namespace {

std::string Bytes(std::initializer_list<int> B) {
    std::string S;
    for (int V : B)
        S.push_back(static_cast<char>(V));
    return S;
}

std::string Hex2(int V) {
    static const char D[] = "0123456789ABCDEF";
    return {D[V >> 4], D[V & 15]};
}

// The opcodes the XSVF player refuses: codes no command has.
bool Refused(int Op) {
    return Op == 0x05 || Op == 0x06 || Op >= 0x1D;
}

} // namespace

// Every opcode byte, as the first command of a file: the pre-scan refuses exactly the unsupported
// ones, naming the opcode, before a player exists.
TEST(BadInput, XsvfEveryRefusedOpcode) {
    TScratchFolder Folder("bad-op");
    for (int Op = 0; Op < 256; ++Op) {
        // Enough zero bytes for any supported command's arguments, then XCOMPLETE.
        const std::string Path =
            Folder.Write("op.xsvf", std::string(1, static_cast<char>(Op)) + std::string(16, '\0'));
        std::string Message;
        try {
            TXSVFFile File(Path);
        } catch (const std::exception& E) {
            Message = E.what();
        }
        if (Refused(Op))
            EXPECT_EQ(Message, "Unknown command " + Hex2(Op)) << Op;
        else
            EXPECT_EQ(Message.find("Unknown command"), std::string::npos) << Op << Message;
    }
}

TEST(BadInput, XsvfTable) {
    TScratchFolder Folder("bad-xsvf");
    auto Refusal = [](const std::string& Message) {
        return std::vector<std::string>{"Fatal error \"" + Message + "\""};
    };
    auto Inside = [&](const std::string& Command) {
        return Refusal("Unexpected end of file inside command " + Command);
    };
    std::vector<TRow> Rows;
    auto Row = [&](const std::string& Name, const std::string& Content, int Exit,
                   std::vector<std::string> Lines) {
        Rows.push_back({Name, Folder.Write("r" + std::to_string(Rows.size()) + ".xsvf", Content),
                        Exit, std::move(Lines)});
    };
    for (int Op : {0x05, 0x06, 0x1D, 0x80, 0xFF})
        Row("refused opcode " + Hex2(Op), Bytes({Op, 0, 0, 0, 0, 0}), 2,
            Refusal("Unknown command " + Hex2(Op)));

    // Truncation inside each command that has arguments. Values are one byte long (XSDRSIZE is 8
    // until a file sets it) unless an XSDRSIZE 16 comes first.
    const std::string Size16 = Bytes({0x08, 0, 0, 0, 16});
    Row("XTDOMASK cut off", Bytes({0x01}), 2, Inside("XTDOMASK"));
    Row("XSIR without its length", Bytes({0x02}), 2, Inside("XSIR"));
    Row("XSIR 9 with one of its two value bytes", Bytes({0x02, 9, 0xFF}), 2, Inside("XSIR"));
    Row("XSDR cut off", Size16 + Bytes({0x03, 0x12}), 2, Inside("XSDR"));
    Row("XRUNTEST cut off", Bytes({0x04, 0, 0, 1}), 2, Inside("XRUNTEST"));
    Row("XREPEAT cut off", Bytes({0x07}), 2, Inside("XREPEAT"));
    Row("XSDRSIZE cut off", Bytes({0x08, 0, 0}), 2, Inside("XSDRSIZE"));
    Row("XSDRTDO with TDI only", Size16 + Bytes({0x09, 0x12, 0x34}), 2, Inside("XSDRTDO"));
    Row("XSDRB cut off", Bytes({0x0C}), 2, Inside("XSDRB"));
    Row("XSDRC cut off", Bytes({0x0D}), 2, Inside("XSDRC"));
    Row("XSDRE cut off", Bytes({0x0E}), 2, Inside("XSDRE"));
    Row("XSDRTDOB with TDI only", Bytes({0x0F, 0x12}), 2, Inside("XSDRTDOB"));
    Row("XSDRTDOC with TDI only", Bytes({0x10, 0x12}), 2, Inside("XSDRTDOC"));
    Row("XSDRTDOE with TDI only", Bytes({0x11, 0x12}), 2, Inside("XSDRTDOE"));
    Row("XSTATE cut off", Bytes({0x12}), 2, Inside("XSTATE"));
    Row("XENDIR cut off", Bytes({0x13}), 2, Inside("XENDIR"));
    Row("XENDDR cut off", Bytes({0x14}), 2, Inside("XENDDR"));
    Row("XSETSDRMASKS with one mask", Bytes({0x0A, 0x12}), 2, Inside("XSETSDRMASKS"));
    Row("XSDRINC without its count", Bytes({0x0B, 0x12}), 2, Inside("XSDRINC"));
    Row("XSIR2 with one length byte", Bytes({0x15, 0}), 2, Inside("XSIR2"));
    Row("XWAIT cut off", Bytes({0x17, 1, 1, 0, 0}), 2, Inside("XWAIT"));
    Row("XWAITSTATE cut off", Bytes({0x18, 1, 1, 0, 0, 0, 0}), 2, Inside("XWAITSTATE"));
    Row("LCOUNT cut off", Bytes({0x19, 0}), 2, Inside("LCOUNT"));
    Row("LDELAY cut off", Bytes({0x1A, 1, 0, 0}), 2, Inside("LDELAY"));
    Row("LSDR with TDI only", Bytes({0x1B, 0x12}), 2, Inside("LSDR"));
    Row("XTRST cut off", Bytes({0x1C}), 2, Inside("XTRST"));
    Row("XCOMMENT without its terminating 0", Bytes({0x16, 'n', 'o', ' ', 'e', 'n', 'd'}), 2,
        Inside("XCOMMENT"));
    Row("no XCOMPLETE", Bytes({0x12, 0x01}), 2,
        Refusal("Unexpected end of file: the file has no XCOMPLETE command"));
    Row("an empty file", "", 2,
        Refusal("Unexpected end of file: the file has no XCOMPLETE command"));

    // Sizes at both ends of the 32-bit range.
    Row("XSDRSIZE 0: values of no bytes, scans of no bits",
        Bytes({0x08, 0, 0, 0, 0, 0x03, 0x09, 0x00}), 0, {Passed});
    // A size longer than the file is refused only by the command that needs its bytes.
    Row("XSDRSIZE 2^32-1", Bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00}), 2, Inside("XSDR"));
    Row("XSDRSIZE 2^31 before XCOMPLETE", Bytes({0x08, 0x80, 0, 0, 0, 0x00}), 0, {Passed});
    // An XSIR of the largest length the format allows, with its 32 value bytes: a valid file.
    Row("XSIR of 255 bits", Bytes({0x02, 255}) + std::string(32, '\xFF') + Bytes({0x00}), 0,
        {Passed});

    for (const TRow& R : Rows)
        CheckRow(Folder, R);
}

// A file cut or extended at a statement boundary after the player opened it: the run fails and
// says why, instead of playing what it finds and reporting success.
TEST(BadInput, FileChangedWhileItPlays) {
    TScratchFolder Folder("changed");
    const std::string Svf = "SIR 8 TDI (FE);\nSDR 8 TDI (00);\nSDR 8 TDI (01);\n";
    // XSDRSIZE 8, XSDR 01, XSDR 02, XCOMPLETE.
    const std::string Xsvf("\x08\x00\x00\x00\x08\x03\x01\x03\x02\x00", 10);
    const struct {
        const char* Name;
        std::string File, Text, Changed;
    } Rows[] = {
        {"SVF cut after its first statement", "cut.svf", Svf, Svf.substr(0, 16)},
        {"SVF with a statement added", "added.svf", Svf, Svf + "SDR 8 TDI (02);\n"},
        {"XSVF cut before XCOMPLETE", "cut.xsvf", Xsvf, Xsvf.substr(0, 7)},
        {"XSVF with a command added", "added.xsvf", Xsvf, Xsvf.substr(0, 9) + Xsvf.substr(5)},
    };
    for (const auto& Row : Rows) {
        SCOPED_TRACE(Row.Name);
        const std::string Path = Folder.Write(Row.File, Row.Text);
        std::unique_ptr<TJtagFile> P;
        if (Row.File.ends_with(".svf"))
            P = std::make_unique<TSVFFile>(Path);
        else
            P = std::make_unique<TXSVFFile>(Path);
        std::vector<std::string> Messages;
        P->Events.OnMessage = [&](const std::string& T, uint8_t) { Messages.push_back(T); };
        P->Events.OnReadCaptured = [](uint8_t*, const uint8_t*, int64_t) { return true; };
        Folder.Write(Row.File, Row.Changed);
        P->Start(1000000);
        for (int I = 0; I < 5000 && P->Status() == 0; ++I)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(P->Status(), 1);
        ASSERT_FALSE(Messages.empty());
        EXPECT_EQ(Messages.back(), "Fatal error File " + Path +
                                       " changed while it was played: it had " +
                                       std::to_string(Row.Text.size()) + " bytes, now " +
                                       std::to_string(Row.Changed.size()));
    }
}
