#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "line_exception.h"
#include "svf_test_util.h"

namespace {

// Every statement of a file, words joined by "|", up to and including the end marker.
std::vector<std::string> Statements(const std::string& Text,
                                    std::vector<std::string>* Echo = nullptr) {
    TSVFFile F(WriteTemp("reader.svf", Text));
    if (Echo)
        F.Events.OnMessage = [Echo](const std::string& T, uint8_t S) {
            EXPECT_EQ(S, sevComment);
            Echo->push_back(T);
        };
    std::vector<std::string> Out;
    for (int I = 0; I < 100; ++I) {
        std::string Joined;
        for (const std::string& W : TSVFStepper(F).ReadWords()) {
            if (!Joined.empty())
                Joined += '|';
            Joined.append(W);
        }
        Out.push_back(Joined);
        if (Joined.find("__EOF") != std::string::npos)
            break;
    }
    return Out;
}

struct TTokenCase {
    const char* Name;
    const char* Text;
    std::vector<std::string> Words;
    std::vector<std::string> Echo;
};

TEST(SvfReader, Tokenizer) {
    const std::vector<TTokenCase> Cases = {
        {"parentheses spaced",
         "SDR 8 TDI(ff)MASK (F F);",
         {"SDR|8|TDI|(FF)|MASK|(FF)", "__EOF"},
         {}},
        {"value over two lines",
         "SDR 8 TDI(f\r\nf)MASK (F F);",
         {"SDR|8|TDI|(FF)|MASK|(FF)", "__EOF"},
         {}},
        {"hex wrapped with tabs",
         "SDR 16 TDI (\n\t12\n\t34 );",
         {"SDR|16|TDI|(1234)", "__EOF"},
         {}},
        {"comment lines echoed",
         "! note one\r\n// note two\nSTATE RESET;",
         {"STATE|RESET", "__EOF"},
         {"! note one", "// note two"}},
        {"comment inside a statement",
         "STATE RESET ! rest; of line\n IDLE;",
         {"STATE|RESET|IDLE", "__EOF"},
         {"! rest; of line"}},
        {"single slash is ordinary", "A/B;", {"A/B", "__EOF"}, {}},
        {"separators collapse", "SIR\t8 \t TDI\t(aa)  ;", {"SIR|8|TDI|(AA)", "__EOF"}, {}},
        // Separators and special characters at any position of a long run.
        {"long runs",
         "abcdefghijklmnopqrstu\xffvwxyz0123456789ABCDEFGHIJ\tklmnopqrstuvwxyz012345(6);",
         {"ABCDEFGHIJKLMNOPQRSTU|VWXYZ0123456789ABCDEFGHIJ|KLMNOPQRSTUVWXYZ012345|(6)", "__EOF"},
         {}},
        {"bytes above 127 are significant",
         "a\xe9"
         "bcdefghijklmnopqrstuvwxyz!c\n;",
         {"A\xe9"
          "BCDEFGHIJKLMNOPQRSTUVWXYZ",
          "__EOF"},
         {"!c"}},
        {"adjacent values", "X(12)(34);", {"X|(12)|(34)", "__EOF"}, {}},
        {"empty statements", ";;B;", {"", "", "B", "__EOF"}, {}},
        {"empty file", "", {"__EOF"}, {}},
        {"statement cut by the end", "SDR 8 TDI (FF)", {"SDR|8|TDI|(FF)|__EOF"}, {}},
        {"word cut by the end", "RUNTEST 100 TCK", {"RUNTEST|100|TCK__EOF"}, {}},
        // A comment running into the end of the file ends there instead of swallowing the end
        // marker for ever.
        {"comment into the end",
         "STATE RESET; ! no line end",
         {"STATE|RESET", "__EOF"},
         {"! no line end"}},
        {"comment into the end inside a statement",
         "STATE RESET ! cut",
         {"STATE|RESET|__EOF"},
         {"! cut"}},
    };
    for (const TTokenCase& C : Cases) {
        std::vector<std::string> Echo;
        EXPECT_EQ(Statements(C.Text, &Echo), C.Words) << C.Name;
        EXPECT_EQ(Echo, C.Echo) << C.Name;
    }
}

TEST(SvfReader, MarkerRepeatsAndCountsIntoCharsRead) {
    TSVFFile F(WriteTemp("eof.svf", "STATE RESET;"));
    TSVFStepper S(F);
    EXPECT_EQ(F.ProgressMax(), 12);
    EXPECT_EQ(S.ReadStatement(), "STATE RESET");
    EXPECT_TRUE(S.AtEof()); // the last byte has been handed out
    EXPECT_EQ(S.ReadStatement(), "__EOF");
    EXPECT_EQ(S.CharsRead(), 18);
    EXPECT_EQ(S.ReadStatement(), "__EOF");
}

struct TLineCase {
    const char* Name;
    const char* Text;
    int Line;
    const char* LineText;
};

// The error in "BAD;" must name the line an editor shows, whatever the line ends.
TEST(SvfReader, LineNumbersOfErrors) {
    const std::vector<TLineCase> Cases = {
        {"CR LF", "STATE RESET;\r\nSTATE IDLE;\r\nBAD 1;\r\nSTATE IDLE;\r\n", 3, "BAD 1;"},
        {"LF only", "STATE RESET;\nSTATE IDLE;\nBAD 1;\nSTATE IDLE;\n", 3, "BAD 1;"},
        {"CR only", "STATE RESET;\rSTATE IDLE;\rBAD 1;\r", 3, "BAD 1;"},
        {"blank lines", "\n\r\n\n\tBAD 1; ! why\n", 4, "\tBAD 1; ! why"},
        {"statement over lines", "STATE RESET;\nBAD\n  1;\n", 3, "  1;"},
        {"no line end at the end", "STATE RESET;\nBAD 1;", 2, "BAD 1;"},
    };
    for (const TLineCase& C : Cases) {
        TSVFFile F(WriteTemp("lines.svf", C.Text));
        TSVFCommand Cmd;
        try {
            for (int I = 0; I < 10; ++I)
                TSVFStepper(F).Parse(Cmd);
            ADD_FAILURE() << C.Name << ": no error";
        } catch (const ELineException& E) {
            EXPECT_STREQ(E.what(), "Unknown SVF command BAD") << C.Name;
            EXPECT_EQ(E.LineNumber, C.Line) << C.Name;
            EXPECT_EQ(E.LineText, C.LineText) << C.Name;
        }
    }
}

// A statement of several megabytes across many blocks, with line breaks and blanks inside the
// value, comes out whole and in order.
TEST(SvfReader, LargeStatementAcrossBlocks) {
    std::string Hex;
    for (int I = 0; I < 300000; ++I)
        Hex.push_back("0123456789abcdef"[(I * 7) % 16]);
    std::string Text = "SDR 1200000 TDI (";
    for (size_t I = 0; I < Hex.size(); I += 61)
        Text += Hex.substr(I, 61) + (I % 2 ? "\r\n\t" : " \n");
    Text += ") ; STATE IDLE;";
    TSVFFile F(WriteTemp("large.svf", Text));
    TSVFStepper Step(F);
    const std::string S(Step.ReadStatement());
    std::string Upper = Hex;
    for (char& C : Upper)
        C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
    EXPECT_EQ(S, "SDR 1200000 TDI (" + Upper + ")");
    EXPECT_EQ(Step.ReadStatement(), "STATE IDLE");
}

// A file cut at a statement boundary while it plays must not end the run as a success.
TEST(SvfReader, FileThatChangesSizeWhilePlaying) {
    const std::string Path = WriteTemp("cut.svf", "STATE RESET;\nSTATE IDLE;\n");
    TSVFFile F(Path);
    TSVFStepper S(F);
    EXPECT_EQ(S.ReadStatement(), "STATE RESET");
    std::filesystem::resize_file(Path, 13);
    try {
        while (S.ReadStatement() != "__EOF") {
        }
        ADD_FAILURE() << "the end of the cut file passed";
    } catch (const std::runtime_error& E) {
        EXPECT_EQ(std::string(E.what()),
                  "File " + Path + " changed while it was played: it had 25 bytes, now 13");
    }
}

TEST(SvfReader, OpenAndReadFailures) {
    try {
        TSVFFile F("/nonexistent/x.svf");
        ADD_FAILURE();
    } catch (const std::runtime_error& E) {
        EXPECT_STREQ(E.what(), "Cannot open file /nonexistent/x.svf for read.");
    }
    // A directory opens (Linux) but cannot be read, or does not open (Windows): either way an
    // error, not an empty file.
    const std::string Dir = SuiteScratch().File("svfdir.svf");
    std::filesystem::create_directory(Dir);
    EXPECT_THROW(
        {
            TSVFFile F(Dir);
            TSVFStepper(F).ReadStatement();
        },
        std::runtime_error);
}

} // namespace
