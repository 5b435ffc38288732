#include "xsvf_asm.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

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
    uint64_t SdrSize = 8; // the player's mask starts 8 bits long

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

void AssembleXsvfFile(const std::string& SourcePath, const std::string& OutputPath) {
    std::ifstream In(SourcePath, std::ios::binary);
    if (!In)
        throw std::runtime_error("cannot read " + SourcePath);
    const std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    const std::vector<uint8_t> Bytes = AssembleXsvf(Text);
    std::ofstream Out(OutputPath, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Bytes.data()),
              static_cast<std::streamsize>(Bytes.size()));
    if (!Out)
        throw std::runtime_error("cannot write " + OutputPath);
}
