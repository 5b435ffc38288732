#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "line_exception.h"
#include "svf_test_util.h"

namespace {

// "kind:value" for each parameter: integers in decimal, vectors as bits/hex bytes from the last
// byte down, reals with %g.
std::string Describe(const TSVFCommand& C) {
    std::ostringstream Out;
    Out << int(C.Command);
    for (const TSVFParam& P : C.Parameters) {
        Out << " " << int(P.Kind);
        if (P.Kind == pkInteger)
            Out << ":" << P.Value;
        else if (P.Kind >= pkTDI && P.Kind <= pkSMASK) {
            Out << ":" << P.Vector.BitLength() << "/";
            char Buf[3];
            for (int64_t I = P.Vector.ByteCount() - 1; I >= 0; --I) {
                std::snprintf(Buf, sizeof Buf, "%02X", P.Vector.GetByte(I));
                Out << Buf;
            }
        } else if (P.Kind == pkSEC || P.Kind == pkHZ || P.Kind == pkMAXIMUM) {
            char Buf[32];
            std::snprintf(Buf, sizeof Buf, "%g", static_cast<double>(P.Real));
            Out << ":" << Buf;
        }
    }
    return Out.str();
}

// The same statement with a vertical tab before every blank: a separator like the blank, which
// the reader's shortcuts for statements as tools write them leave to its general path.
std::string WithVerticalTabs(std::string Text) {
    for (size_t At = Text.find(' '); At != std::string::npos; At = Text.find(' ', At + 2))
        Text.insert(At, 1, '\v');
    return Text;
}

TSVFCommand ParseOne(const std::string& Statement) {
    TSVFFile F(WriteTemp("parse.svf", Statement));
    TSVFCommand C;
    TSVFStepper(F).Parse(C);
    return C;
}

TEST(SvfParser, Statements) {
    const std::vector<std::pair<const char*, const char*>> Cases = {
        {"SIR 8 TDI (aa);", "6 30:8 16:8/AA"},
        {"SDR 16 TDI (1234) TDO (0000) MASK (FFFF) SMASK (FFFF);",
         "5 30:16 16:16/1234 17:16/0000 18:16/FFFF 19:16/FFFF"},
        {"RUNTEST IDLE 100 TCK 1E-2 SEC ENDSTATE IDLE;", "10 1 28 20:0.01 22 1 30:100"},
        {"RUNTEST 1.0E-3 SEC;", "10 20:0.001"},
        {"RUNTEST 1E-3 SEC MAXIMUM 1E-2 SEC;", "10 20:0.001 21:0.01"},
        {"RUNTEST 50021E-6 SEC;", "10 20:0.050021"},
        {"RUNTEST IDLE 2 TCK 1.00E-003 SEC;", "10 1 28 20:0.001 30:2"},
        {"FREQUENCY 1.5E6 HZ;", "2 27:1.5e+06"},
        {"FREQUENCY\t1.00e+006 HZ;", "2 27:1e+06"},
        {"FREQUENCY;", "2"},
        {"SDR 12 TDI (ABC);", "5 30:12 16:12/0ABC"},
        {"SDR 8 TDI (1FF);", "5 30:8 16:8/FF"},
        {"SDR 16 TDI (F);", "5 30:16 16:16/000F"},
        {"sdr 8 tdi (a5) tdo(Ff);", "5 30:8 16:8/A5 17:8/FF"},
        {"SIR 8 TDI (FF) TDI (00);", "6 30:8 16:8/FF 16:8/00"},
        {"TRST ABSENT;", "9 26"},
        {"STATE RESET IDLE;", "11 0 1"},
        {"ENDDR DRPAUSE;", "0 6"},
        // Shapes the shortcut takes, and the limits where it hands over.
        {"SDR\t8\tTDI  (a5) TDO(FF)MASK (0F) ;", "5 30:8 16:8/A5 17:8/FF 18:8/0F"},
        {"SIR 0008 TDI (5) SMASK ();", "6 30:8 16:8/05 19:8/00"},
        {"SDR 0;", "5 30:0"},
        {"SDR 72 TDI (123456789ABCDEF012);", "5 30:72 16:72/123456789ABCDEF012"},
        {"SDR 8 TDI (00000000000000000000A5);", "5 30:8 16:8/A5"},
        {"SIR 4 TDI (1) TDI (2) TDI (3) TDI (4) TDI (5) TDI (6) TDI (7) TDI (8) TDI (9);",
         "6 30:4 16:4/01 16:4/02 16:4/03 16:4/04 16:4/05 16:4/06 16:4/07 16:4/08 16:4/09"},
        {"RUNTEST 200 TCK;", "10 28 30:200"},
        {"RUNTEST DRPAUSE\t5 SCK  ENDSTATE IDLE ;", "10 6 29 22 1 30:5"},
        {"RUNTEST 5 TCK ENDSTATE IRPAUSE;", "10 28 22 13 30:5"},
    };
    // Each also with vertical tabs, which leave it to the reader's general path: both must
    // read the same.
    for (const auto& [Text, Want] : Cases)
        for (const std::string& Form : {std::string(Text), WithVerticalTabs(Text)})
            EXPECT_EQ(Describe(ParseOne(Form)), Want) << Form;
}

struct TErrorCase {
    const char* Text;
    const char* Message;
    bool LineError; // an ELineException with the statement's line
};

TEST(SvfParser, RefusedStatements) {
    const std::vector<TErrorCase> Cases = {
        {"PIO (HLX);", "Unsupported SVF command PIO: parallel vectors: the KORVEX drives JTAG only",
         true},
        {"__EOF;", "Unknown SVF command __EOF", true},
        {"LOOP 0;", "LOOP needs a count of at least 1", true},
        {"RUNTEST -5 TCK;", "RUNTEST run_count must not be negative", true},
        {"ENDDR DRSELECT;",
         "ENDDR DRSELECT: not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)", true},
        {"TRST ON FOO;", "Unknown keyword FOO", true},
        {"TRST ON (AB);", "Unknown keyword (AB)", true},
        {"RUNTEST 10 TCK 20;", "Unknown keyword 20", true},
        {"SDR 8 TDI 12;", "Hexadecimal number is not enclosed in parentheses.", true},
        {"RUNTEST 1 SEC MAXIMUM 2 TCK;", "Keyword MAXIMUM without keyword SEC", true},
        {"SDR TDI (00) 8;", "'TDI' is not a valid integer value", false},
        {"SDR 8 TDI (0G);", "'$0G' is not a valid integer value", false},
        {"SDR 12 TDI (G00);", "'$G' is not a valid integer value", false},
        {"SDR 99999999999 TDI (0);", "'99999999999' is not a valid integer value", false},
        {"RUNTEST SEC;", "'' is not a valid floating point value", false},
        {"RUNTEST 1,5 SEC;", "'1,5' is not a valid floating point value", false},
        {"RUNTEST INF SEC;", "'INF' is not a valid floating point value", false},
        {"FREQUENCY HZ;", "'' is not a valid floating point value", false},
        {"SDR;", "List index out of bounds (1)", false},
        {";", "List index out of bounds (0)", false},
        {"SDR 8 TDI;", "List index out of bounds (3)", false},
        {"RUNTEST 1 SEC MAXIMUM 2;", "List index out of bounds (5)", false},
        // Targets the walk can never reach and lengths no vector can have.
        {"ENDDR;", "ENDDR without a TAP state", true},
        {"ENDIR TDI (0);", "ENDIR without a TAP state", true},
        {"STATE IDLE ON;", "STATE with a parameter that is not a TAP state", true},
        {"RUNTEST 10 TCK ENDSTATE;", "Keyword ENDSTATE without a TAP state", true},
        {"RUNTEST ENDSTATE 10 TCK;", "Keyword ENDSTATE without a TAP state", true},
        {"SDR -8 TDI (00);", "Scan length -8 is negative", true},
        {"SDR 268435457 TDI (0);", "Scan length 268435457 is longer than 268435456 bits", true},
        {"RUNTEST DRSELECT 10 TCK;",
         "RUNTEST DRSELECT: not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)", true},
        {"RUNTEST 10 TCK ENDSTATE IREXIT2;",
         "RUNTEST IREXIT2: not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)", true},
    };
    for (const TErrorCase& Case : Cases)
        for (const std::string& Text : {std::string(Case.Text), WithVerticalTabs(Case.Text)}) {
            const TErrorCase C = {Text.c_str(), Case.Message, Case.LineError};
            try {
                TSVFFile F(WriteTemp("parse2.svf", std::string("STATE RESET;\n") + C.Text));
                TSVFCommand Cmd;
                TSVFStepper S(F);
                S.Parse(Cmd);
                S.Parse(Cmd);
                ADD_FAILURE() << C.Text << ": accepted";
            } catch (const ELineException& E) {
                EXPECT_TRUE(C.LineError) << C.Text;
                EXPECT_STREQ(E.what(), C.Message) << C.Text;
                EXPECT_EQ(E.LineNumber, 2) << C.Text;
                EXPECT_EQ(E.LineText, C.Text) << C.Text;
            } catch (const std::exception& E) {
                EXPECT_FALSE(C.LineError) << C.Text;
                EXPECT_STREQ(E.what(), C.Message) << C.Text;
            }
        }
}

// Parses and applies every statement of a file; the stepper then shows the persistent state.
struct TApplied {
    explicit TApplied(const std::string& Text) : File(WriteTemp("apply.svf", Text)), Step(File) {
        TSVFCommand C;
        do
            Step.ParseAndApply(C);
        while (C.Command != cmdEOF);
    }
    TSVFFile File;
    TSVFStepper Step;
};

std::unique_ptr<TApplied> Apply(const std::string& Text) {
    return std::make_unique<TApplied>(Text);
}

std::string Value(const TVarLen& V) {
    std::string S = std::to_string(V.BitLength()) + "/";
    char Buf[3];
    for (int64_t I = V.ByteCount() - 1; I >= 0; --I) {
        std::snprintf(Buf, sizeof Buf, "%02X", V.GetByte(I));
        S += Buf;
    }
    return S;
}

TEST(SvfParser, SettingsCarryOver) {
    // TDI and MASK carry over, TDO does not.
    auto F = Apply("SDR 8 TDI (00) TDO (FF); SDR 8 TDO (00);");
    EXPECT_EQ(Value(F->Step.Scan(cmdSDR).Tdi), "8/00");
    EXPECT_EQ(Value(F->Step.Scan(cmdSDR).Tdo), "8/00");
    EXPECT_EQ(Value(F->Step.Scan(cmdSDR).Mask), "8/FF");
    F = Apply("SDR 8 TDI (5A) MASK (0F); SDR 8 TDO (12); SDR 8;");
    EXPECT_EQ(Value(F->Step.Scan(cmdSDR).Tdi), "8/5A");
    EXPECT_EQ(Value(F->Step.Scan(cmdSDR).Mask), "8/0F");
    EXPECT_EQ(Value(F->Step.Scan(cmdSDR).Tdo), "0/");
    // Another length: TDI keeps its bytes, MASK becomes all ones.
    F = Apply("SDR 16 TDI (1234) MASK (00F0); SDR 8 TDO (12);");
    EXPECT_EQ(Value(F->Step.Scan(cmdSDR).Tdi), "8/34");
    EXPECT_EQ(Value(F->Step.Scan(cmdSDR).Mask), "8/FF");
    // Headers and trailers keep their own values; the first of a doubled keyword counts.
    F = Apply("HIR 2 TDI (3); TDR 1 TDI (0); SIR 8 TDI (FF) TDI (00);");
    EXPECT_EQ(Value(F->Step.Scan(cmdHIR).Tdi), "2/03");
    EXPECT_EQ(Value(F->Step.Scan(cmdTDR).Tdi), "1/00");
    EXPECT_EQ(Value(F->Step.Scan(cmdSIR).Tdi), "8/FF");
    EXPECT_EQ(Value(F->Step.Scan(cmdHDR).Tdi), "0/");
    F = Apply("ENDDR DRPAUSE; ENDIR IRPAUSE; RUNTEST DRPAUSE 10 TCK; RUNTEST 5 TCK;");
    EXPECT_EQ(F->Step.EndDR(), 6);
    EXPECT_EQ(F->Step.EndIR(), 13);
    EXPECT_EQ(F->Step.RunState(), 6);
}

// The value Digits spells for a scan of Bits bits, as Value shows it: the rightmost two digits
// are byte 0, digits beyond the length dropped.
std::string Expected(const std::string& Digits, int64_t Bits) {
    const int64_t Bytes = (Bits + 7) / 8;
    std::vector<unsigned> B(static_cast<size_t>(Bytes), 0);
    int64_t I = 0;
    for (int64_t End = static_cast<int64_t>(Digits.size()); End > 0 && I < Bytes; End -= 2, ++I) {
        const std::string Pair = Digits.substr(static_cast<size_t>(std::max<int64_t>(End - 2, 0)),
                                               static_cast<size_t>(std::min<int64_t>(End, 2)));
        B[static_cast<size_t>(I)] = static_cast<unsigned>(std::stoul(Pair, nullptr, 16));
    }
    std::string S = std::to_string(Bits) + "/";
    char Buf[3];
    for (int64_t K = Bytes - 1; K >= 0; --K) {
        std::snprintf(Buf, sizeof Buf, "%02X", B[static_cast<size_t>(K)]);
        S += Buf;
    }
    return S;
}

// Digits of any count, wrapped over lines with comments between them, in either case, with far
// more digits than the length (only the last ones are kept) or far fewer.
TEST(SvfParser, ValuesDecodedAsTheyAreRead) {
    struct TValueCase {
        int64_t Bits;
        size_t Digits;
    };
    const std::vector<TValueCase> Cases = {
        {59, 15}, {64, 16}, {12, 3},     {12, 5001},      {8, 2},          {0, 7},
        {4, 1},   {7, 0},   {4097, 999}, {100003, 25001}, {100000, 25000}, {40000, 99999},
    };
    for (const TValueCase& C : Cases) {
        std::string Digits;
        for (size_t I = 0; I < C.Digits; ++I)
            Digits.push_back("0123456789ABCDEF"[(I * 7 + I / 5) % 16]);
        std::string Wrapped;
        for (size_t I = 0; I < Digits.size(); ++I) {
            const char D = Digits[I];
            Wrapped.push_back(I % 3 ? static_cast<char>(std::tolower(D)) : D);
            if (I % 701 == 700)
                Wrapped += I % 2 ? "\r\n ! note\r\n\t" : " // note\n";
        }
        const std::string Text = "SDR " + std::to_string(C.Bits) + " TDI (" + Wrapped + ") TDO(" +
                                 Digits + ");\nSDR " + std::to_string(C.Bits) + " TDI (" + Digits +
                                 ");";
        auto F = Apply(Text);
        const std::string Want = Expected(Digits, C.Bits);
        EXPECT_EQ(Value(F->Step.Scan(cmdSDR).Tdi), Want) << C.Bits << " bits, " << C.Digits;
        EXPECT_EQ(Value(F->Step.Scan(cmdSDR).Tdo), "0/") << C.Bits << " bits, " << C.Digits;
    }
}

// Thousands of statements as tools write them, of every length and value size, one block after
// another: some stand whole in a block (the reader's shortcut), some straddle two. Read once as
// they are and once with vertical tabs (the general path alone), every statement and the state
// after it must be the same.
TEST(SvfParser, ShortcutReadsAsTheGeneralPathAcrossBlocks) {
    uint32_t Seed = 7;
    const auto Next = [&](uint32_t N) { return ((Seed = Seed * 1103515245u + 12345u) >> 8) % N; };
    const auto Hex = [&](size_t N) {
        std::string S;
        for (size_t I = 0; I < N; ++I)
            S.push_back("0123456789ABCDEFabcdef"[Next(I % 5 ? 16 : 22)]);
        return S;
    };
    const char* const Ends[] = {"\n", "\r\n", " ", "\n\n"};
    std::string Text;
    while (Text.size() < 5 * TSVFFile::BlockSize) {
        const unsigned Kind = Next(4);
        if (Kind == 3) {
            Text += "RUNTEST " + std::string(Next(2) ? "IDLE " : "") + std::to_string(Next(5000)) +
                    " TCK" + (Next(2) ? " ENDSTATE DRPAUSE" : "") + ";";
        } else {
            const unsigned Bits = Next(90);
            Text += (Kind ? "SDR " : "SIR ") + std::to_string(Bits);
            for (const char* Key : {" TDI (", " SMASK (", " TDO (", " MASK ("})
                if (std::string_view(Key) == " TDI (" || Next(2))
                    Text += Key + Hex(Next((Bits + 3) / 4 + 3)) + ")";
            Text += ";";
        }
        Text += Ends[Next(4)];
    }
    const auto Read = [](const std::string& Svf) {
        TSVFFile File(WriteTemp("shortcut.svf", Svf));
        TSVFStepper Step(File);
        std::vector<std::string> Seen;
        TSVFCommand C;
        do {
            Step.ParseAndApply(C);
            const auto V = Step.Scan(C.Command == cmdSIR ? cmdSIR : cmdSDR);
            Seen.push_back(Describe(C) + " " + Value(V.Tdi) + " " + Value(V.Tdo) + " " +
                           Value(V.Mask) + " " + Value(V.Smask) + " line " +
                           std::to_string(Step.LineIndex()));
        } while (C.Command != cmdEOF);
        return Seen;
    };
    const std::vector<std::string> Direct = Read(Text);
    EXPECT_GT(Direct.size(), 500u);
    EXPECT_EQ(Direct, Read(WithVerticalTabs(Text)));
}

// The pairs are formed from the right: the message names the rightmost pair that is not a
// hexadecimal number, wherever in a long value it stands.
TEST(SvfParser, BadDigitNamedByItsPair) {
    const std::string Long(9001, 'A');
    const std::vector<std::pair<std::string, std::string>> Cases = {
        {"0G", "$0G"},
        {"G0", "$G0"},
        {"G00", "$G"},
        {"1G00", "$1G"},
        {"x1", "$X1"},
        {"1x2y", "$2Y"},
        {"12 3 G", "$3G"},
        {Long + "Z", "$AZ"},
        {"Z" + Long, "$ZA"},
        {"Z" + Long + "A", "$Z"},
        {Long + "Q" + Long, "$QA"},
        {"/1", "$/1"},
    };
    for (const auto& [Digits, Pair] : Cases) {
        try {
            TSVFFile F(WriteTemp("bad.svf", "SDR 8 TDI (" + Digits + ") TDO (0G);"));
            TSVFCommand Cmd;
            TSVFStepper(F).Parse(Cmd);
            ADD_FAILURE() << Digits << ": accepted";
        } catch (const std::invalid_argument& E) {
            EXPECT_EQ(std::string(E.what()), "'" + Pair + "' is not a valid integer value")
                << Digits.substr(0, 20);
        }
    }
}

} // namespace
