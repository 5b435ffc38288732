#include "xsvf_asm.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

#include "native_path.h"

namespace {

// A value larger than this is surely a typing error in a description, not a test file.
constexpr uint64_t MaxValueBytes = uint64_t{64} << 20;

const std::map<std::string, uint8_t>& StateCodes() {
    static const std::map<std::string, uint8_t> Codes = {
        {"RESET", 0},    {"IDLE", 1},     {"DRSELECT", 2},   {"DRCAPTURE", 3},
        {"DRSHIFT", 4},  {"DREXIT1", 5},  {"DRPAUSE", 6},    {"DREXIT2", 7},
        {"DRUPDATE", 8}, {"IRSELECT", 9}, {"IRCAPTURE", 10}, {"IRSHIFT", 11},
        {"IREXIT1", 12}, {"IRPAUSE", 13}, {"IREXIT2", 14},   {"IRUPDATE", 15}};
    return Codes;
}

class TAssembler {
public:
    std::vector<uint8_t> Out;

    void Line(const std::string& Raw) {
        std::string Text = Raw;
        if (!Text.empty() && Text.back() == '\r')
            Text.pop_back();
        std::istringstream In(Text);
        std::string Op;
        if (!(In >> Op) || Op[0] == '#')
            return;
        if (Op == "XCOMMENT") {
            // The comment is the rest of the line after one separating blank.
            std::string Rest;
            std::getline(In, Rest);
            if (!Rest.empty() && Rest[0] == ' ')
                Rest.erase(0, 1);
            Out.push_back(0x16);
            Out.insert(Out.end(), Rest.begin(), Rest.end());
            Out.push_back(0);
            return;
        }
        std::vector<std::string> Args;
        for (std::string A; In >> A;) {
            if (A[0] == '#')
                break;
            Args.push_back(A);
        }
        Command(Op, Args);
    }

private:
    uint64_t SdrSize = 8;  // the player's mask starts 8 bits long
    uint64_t DataBits = 0; // XSETSDRMASKS: the data bits of each XSDRINC step

    static void Expect(const std::vector<std::string>& Args, size_t N, const std::string& Op) {
        if (Args.size() != N)
            throw std::runtime_error(Op + " takes " + std::to_string(N) + " argument(s)");
    }

    static uint64_t Number(const std::string& S) {
        size_t Used = 0;
        uint64_t V = 0;
        try {
            V = std::stoull(S, &Used, 0);
        } catch (const std::exception&) {
            Used = 0;
        }
        if (Used != S.size() || S[0] == '-')
            throw std::runtime_error("not a number: " + S);
        return V;
    }

    void Put32(uint64_t V) {
        if (V > 0xFFFFFFFFu)
            throw std::runtime_error("does not fit in 32 bits: " + std::to_string(V));
        for (int Shift = 24; Shift >= 0; Shift -= 8)
            Out.push_back(static_cast<uint8_t>(V >> Shift));
    }

    void Put8(uint64_t V) {
        if (V > 0xFF)
            throw std::runtime_error("does not fit in a byte: " + std::to_string(V));
        Out.push_back(static_cast<uint8_t>(V));
    }

    // A hex value written out as Bytes bytes, most significant first, padded with zeros in front.
    void PutHex(const std::string& S, uint64_t Bytes) {
        if (Bytes > MaxValueBytes)
            throw std::runtime_error("value of " + std::to_string(Bytes) + " bytes is too long");
        std::string Digits;
        for (char C : S) {
            if (C == '_')
                continue;
            if (!std::isxdigit(static_cast<unsigned char>(C)))
                throw std::runtime_error("not a hex value: " + S);
            Digits.push_back(C);
        }
        const size_t FirstSignificant = std::min(Digits.find_first_not_of('0'), Digits.size());
        if (Digits.size() - FirstSignificant > 2 * Bytes)
            throw std::runtime_error("value " + S + " is longer than " + std::to_string(Bytes) +
                                     " byte(s)");
        std::vector<uint8_t> Value(Bytes, 0);
        size_t Nibble = 0; // from the least significant end
        for (auto It = Digits.rbegin(); It != Digits.rend() && Nibble < 2 * Bytes; ++It, ++Nibble) {
            const int D = std::isdigit(static_cast<unsigned char>(*It))
                              ? *It - '0'
                              : std::toupper(static_cast<unsigned char>(*It)) - 'A' + 10;
            Value[Bytes - 1 - Nibble / 2] |= static_cast<uint8_t>(D << (4 * (Nibble % 2)));
        }
        Out.insert(Out.end(), Value.begin(), Value.end());
    }

    static uint8_t State(const std::string& S) {
        const auto It = StateCodes().find(S);
        if (It != StateCodes().end())
            return It->second;
        const uint64_t V = Number(S);
        if (V > 15)
            throw std::runtime_error("not a TAP state: " + S);
        return static_cast<uint8_t>(V);
    }

    static uint8_t EndState(const std::string& S, const char* Pause) {
        if (S == "IDLE" || S == "0")
            return 0;
        if (S == Pause || S == "1")
            return 1;
        return static_cast<uint8_t>(Number(S)); // any other byte, as a file may hold it
    }

    void Command(const std::string& Op, const std::vector<std::string>& Args) {
        static const std::map<std::string, uint8_t> Values = {
            {"XTDOMASK", 0x01}, {"XSDR", 0x03}, {"XSDRB", 0x0C}, {"XSDRC", 0x0D}, {"XSDRE", 0x0E}};
        static const std::map<std::string, uint8_t> TwoValues = {
            {"XSDRTDO", 0x09}, {"XSDRTDOB", 0x0F}, {"XSDRTDOC", 0x10}, {"XSDRTDOE", 0x11}};
        const uint64_t N = (SdrSize + 7) / 8;
        if (auto It = Values.find(Op); It != Values.end()) {
            Expect(Args, 1, Op);
            Out.push_back(It->second);
            PutHex(Args[0], N);
        } else if (auto It2 = TwoValues.find(Op); It2 != TwoValues.end()) {
            Expect(Args, 2, Op);
            Out.push_back(It2->second);
            PutHex(Args[0], N);
            PutHex(Args[1], N);
        } else if (Op == "XCOMPLETE") {
            Expect(Args, 0, Op);
            Out.push_back(0x00);
        } else if (Op == "XSIR") {
            Expect(Args, 2, Op);
            const uint64_t L = Number(Args[0]);
            Out.push_back(0x02);
            Put8(L);
            PutHex(Args[1], (L + 7) / 8);
        } else if (Op == "XRUNTEST") {
            Expect(Args, 1, Op);
            Out.push_back(0x04);
            Put32(Number(Args[0]));
        } else if (Op == "XREPEAT") {
            Expect(Args, 1, Op);
            Out.push_back(0x07);
            Put8(Number(Args[0]));
        } else if (Op == "XSDRSIZE") {
            Expect(Args, 1, Op);
            Out.push_back(0x08);
            SdrSize = Number(Args[0]);
            Put32(SdrSize);
        } else if (Op == "XSTATE") {
            Expect(Args, 1, Op);
            Out.push_back(0x12);
            Out.push_back(State(Args[0]));
        } else if (Op == "XENDIR" || Op == "XENDDR") {
            Expect(Args, 1, Op);
            Out.push_back(Op == "XENDIR" ? 0x13 : 0x14);
            Out.push_back(EndState(Args[0], Op == "XENDIR" ? "IRPAUSE" : "DRPAUSE"));
        } else if (Op == "XSIR2") {
            Expect(Args, 2, Op);
            const uint64_t L = Number(Args[0]);
            if (L > 0xFFFF)
                throw std::runtime_error("does not fit in 16 bits: " + Args[0]);
            Out.push_back(0x15);
            Out.push_back(static_cast<uint8_t>(L >> 8));
            Out.push_back(static_cast<uint8_t>(L));
            PutHex(Args[1], (L + 7) / 8);
        } else if (Op == "XSETSDRMASKS") {
            Expect(Args, 2, Op);
            Out.push_back(0x0A);
            PutHex(Args[0], N);
            const size_t At = Out.size();
            PutHex(Args[1], N);
            DataBits = 0;
            for (size_t I = At; I < Out.size(); ++I)
                DataBits += static_cast<uint64_t>(__builtin_popcount(Out[I]));
        } else if (Op == "XSDRINC") {
            // XSDRINC <start address> <data piece>...: the count is the number of pieces.
            if (Args.empty() || Args.size() > 256)
                throw std::runtime_error("XSDRINC takes a start address and up to 255 pieces");
            Out.push_back(0x0B);
            PutHex(Args[0], N);
            Out.push_back(static_cast<uint8_t>(Args.size() - 1));
            for (size_t I = 1; I < Args.size(); ++I)
                PutHex(Args[I], (DataBits + 7) / 8);
        } else if (Op == "XWAIT") {
            Expect(Args, 3, Op);
            Out.push_back(0x17);
            Out.push_back(State(Args[0]));
            Out.push_back(State(Args[1]));
            Put32(Number(Args[2]));
        } else if (Op == "XWAITSTATE") {
            Expect(Args, 4, Op);
            Out.push_back(0x18);
            Out.push_back(State(Args[0]));
            Out.push_back(State(Args[1]));
            Put32(Number(Args[2]));
            Put32(Number(Args[3]));
        } else if (Op == "LCOUNT") {
            Expect(Args, 1, Op);
            Out.push_back(0x19);
            Put32(Number(Args[0]));
        } else if (Op == "LDELAY") {
            Expect(Args, 3, Op);
            Out.push_back(0x1A);
            Out.push_back(State(Args[0]));
            Put32(Number(Args[1]));
            Put32(Number(Args[2]));
        } else if (Op == "LSDR") {
            Expect(Args, 2, Op);
            Out.push_back(0x1B);
            PutHex(Args[0], N);
            PutHex(Args[1], N);
        } else if (Op == "XTRST") {
            Expect(Args, 1, Op);
            static const std::map<std::string, uint8_t> Modes = {
                {"ON", 0}, {"OFF", 1}, {"Z", 2}, {"ABSENT", 3}};
            const auto It = Modes.find(Args[0]);
            Out.push_back(0x1C);
            Put8(It != Modes.end() ? It->second : Number(Args[0]));
        } else if (Op == "BYTES") {
            for (const auto& A : Args)
                PutHex(A, 1);
        } else {
            throw std::runtime_error("unknown command " + Op);
        }
    }
};

} // namespace

std::vector<uint8_t> AssembleXsvf(const std::string& Text) {
    TAssembler A;
    std::istringstream In(Text);
    int LineNumber = 0;
    for (std::string L; std::getline(In, L);) {
        ++LineNumber;
        try {
            A.Line(L);
        } catch (const std::exception& E) {
            throw std::runtime_error("line " + std::to_string(LineNumber) + ": " + E.what());
        }
    }
    return A.Out;
}

namespace {

// The text of one XSVF file, one command a line, as AssembleXsvf reads it back.
class TDisassembler {
public:
    explicit TDisassembler(const std::vector<uint8_t>& Bytes) : In(Bytes) {}

    std::string Run() {
        while (P < In.size()) {
            const size_t Start = P;
            const uint8_t Op = In[P++];
            if (!Command(Op)) {
                // Refused, damaged or cut short: the rest as it stands, so nothing is lost.
                Line("# " + std::string(Known(Op) ? "cut short" : "not an XSVF command"));
                Raw(Start, In.size());
                break;
            }
            if (Op == 0x00 && P < In.size()) {
                Line("# after XCOMPLETE");
                Raw(P, In.size());
                break;
            }
        }
        return Out;
    }

private:
    const std::vector<uint8_t>& In;
    size_t P = 0;
    std::string Out;
    uint64_t SdrSize = 8;
    uint64_t DataBits = 0;

    static bool Known(uint8_t Op) { return Op <= 0x1C && Op != 0x05 && Op != 0x06; }

    void Line(const std::string& S) { Out += S + "\n"; }

    void Raw(size_t From, size_t To) {
        for (size_t I = From; I < To; I += 16) {
            std::string S = "BYTES";
            for (size_t J = I; J < std::min(To, I + 16); ++J)
                S += " " + Hex(&In[J], 1);
            Line(S);
        }
    }

    static std::string Hex(const uint8_t* B, size_t N) {
        static const char Digits[] = "0123456789ABCDEF";
        std::string S;
        for (size_t I = 0; I < N; ++I) {
            S.push_back(Digits[B[I] >> 4]);
            S.push_back(Digits[B[I] & 15]);
        }
        return S.empty() ? "0" : S;
    }

    bool Has(uint64_t N) const { return N <= In.size() - P; }
    std::string Value(uint64_t Bytes) {
        const std::string S = Hex(&In[P], Bytes);
        P += Bytes;
        return S;
    }
    uint32_t U32() {
        const uint32_t V = (uint32_t{In[P]} << 24) | (uint32_t{In[P + 1]} << 16) |
                           (uint32_t{In[P + 2]} << 8) | In[P + 3];
        P += 4;
        return V;
    }
    static std::string StateName(uint8_t S) {
        for (const auto& [Name, Code] : StateCodes())
            if (Code == S)
                return Name;
        return std::to_string(S);
    }

    // One command after its opcode; false (nothing consumed that counts) when it is unknown or
    // its arguments run past the end of the file.
    bool Command(uint8_t Op) {
        const uint64_t N = (SdrSize + 7) / 8;
        static const std::map<uint8_t, std::string> Values = {
            {0x01, "XTDOMASK"}, {0x03, "XSDR"}, {0x0C, "XSDRB"}, {0x0D, "XSDRC"}, {0x0E, "XSDRE"}};
        static const std::map<uint8_t, std::string> TwoValues = {
            {0x09, "XSDRTDO"},  {0x0F, "XSDRTDOB"},     {0x10, "XSDRTDOC"},
            {0x11, "XSDRTDOE"}, {0x0A, "XSETSDRMASKS"}, {0x1B, "LSDR"}};
        if (auto It = Values.find(Op); It != Values.end()) {
            if (!Has(N))
                return false;
            Line(It->second + " " + Value(N));
            return true;
        }
        if (auto It = TwoValues.find(Op); It != TwoValues.end()) {
            if (!Has(2 * N))
                return false;
            if (Op == 0x0A) {
                DataBits = 0;
                for (uint64_t I = N; I < 2 * N; ++I)
                    DataBits += static_cast<uint64_t>(__builtin_popcount(In[P + I]));
            }
            const std::string A = Value(N);
            Line(It->second + " " + A + " " + Value(N));
            return true;
        }
        switch (Op) {
        case 0x00:
            Line("XCOMPLETE");
            return true;
        case 0x02:
        case 0x15: {
            const size_t L = Op == 0x02 ? 1 : 2;
            if (!Has(L))
                return false;
            const uint64_t Bits = Op == 0x02 ? In[P] : (uint64_t{In[P]} << 8 | In[P + 1]);
            if (!Has(L + (Bits + 7) / 8))
                return false;
            P += L;
            Line(std::string(Op == 0x02 ? "XSIR " : "XSIR2 ") + std::to_string(Bits) + " " +
                 Value((Bits + 7) / 8));
            return true;
        }
        case 0x04:
        case 0x08:
        case 0x19:
            if (!Has(4))
                return false;
            if (Op == 0x08) {
                SdrSize = U32();
                Line("XSDRSIZE " + std::to_string(SdrSize));
            } else {
                Line(std::string(Op == 0x04 ? "XRUNTEST " : "LCOUNT ") + std::to_string(U32()));
            }
            return true;
        case 0x07:
        case 0x12:
        case 0x13:
        case 0x14:
        case 0x1C: {
            if (!Has(1))
                return false;
            const uint8_t B = In[P++];
            if (Op == 0x07)
                Line("XREPEAT " + std::to_string(B));
            else if (Op == 0x12)
                Line("XSTATE " + StateName(B));
            else if (Op == 0x1C)
                Line("XTRST " + (B < 4 ? std::string(B == 0   ? "ON"
                                                     : B == 1 ? "OFF"
                                                     : B == 2 ? "Z"
                                                              : "ABSENT")
                                       : std::to_string(B)));
            else
                Line(std::string(Op == 0x13 ? "XENDIR " : "XENDDR ") + std::to_string(B));
            return true;
        }
        case 0x0B: {
            if (!Has(N + 1))
                return false;
            const uint8_t Times = In[P + N];
            const uint64_t Piece = (DataBits + 7) / 8;
            if (!Has(N + 1 + Times * Piece))
                return false;
            std::string S = "XSDRINC " + Value(N);
            ++P;
            for (int I = 0; I < Times; ++I)
                S += " " + Value(Piece);
            Line(S);
            return true;
        }
        case 0x16: {
            size_t End = P;
            while (End < In.size() && In[End] != 0)
                ++End;
            if (End == In.size())
                return false;
            bool Printable = true;
            for (size_t I = P; I < End; ++I)
                Printable = Printable && In[I] >= 0x20 && In[I] < 0x7F;
            // A comment the line format cannot carry (a line break, a control character, a
            // blank at the start) stays as raw bytes.
            if (!Printable || (End > P && In[P] == ' ')) {
                Raw(P - 1, End + 1);
            } else {
                Line("XCOMMENT " + std::string(In.begin() + static_cast<std::ptrdiff_t>(P),
                                               In.begin() + static_cast<std::ptrdiff_t>(End)));
            }
            P = End + 1;
            return true;
        }
        case 0x17:
            if (!Has(6))
                return false;
            {
                const std::string States = StateName(In[P]) + " " + StateName(In[P + 1]);
                P += 2;
                Line("XWAIT " + States + " " + std::to_string(U32()));
            }
            return true;
        case 0x18: {
            if (!Has(10))
                return false;
            const std::string States = StateName(In[P]) + " " + StateName(In[P + 1]);
            P += 2;
            const uint32_t Clocks = U32();
            Line("XWAITSTATE " + States + " " + std::to_string(Clocks) + " " +
                 std::to_string(U32()));
            return true;
        }
        case 0x1A: {
            if (!Has(9))
                return false;
            const std::string State = StateName(In[P++]);
            const uint32_t Clocks = U32();
            Line("LDELAY " + State + " " + std::to_string(Clocks) + " " + std::to_string(U32()));
            return true;
        }
        default:
            return false;
        }
    }
};

} // namespace

std::string DisassembleXsvf(const std::vector<uint8_t>& Bytes) {
    return TDisassembler(Bytes).Run();
}

void AssembleXsvfFile(const std::string& SourcePath, const std::string& OutputPath) {
    std::ifstream In(platform::PathFromUtf8(SourcePath), std::ios::binary);
    if (!In)
        throw std::runtime_error("cannot read " + SourcePath);
    const std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    const std::vector<uint8_t> Bytes = AssembleXsvf(Text);
    std::ofstream Out(platform::PathFromUtf8(OutputPath), std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Bytes.data()),
              static_cast<std::streamsize>(Bytes.size()));
    if (!Out)
        throw std::runtime_error("cannot write " + OutputPath);
}
