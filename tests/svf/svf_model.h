#pragma once

#include <cctype>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// An independent reading of an SVF file, written for the tests without the player's code: it
// yields every SIR and SDR with the TDO the file expects (header, scan and trailer, compared bits
// from TDO, the rest 0), as the simulator's scripted-TDO lines "IR|DR <length> <hex>".
namespace svfmodel {

struct TScan {
    bool Ir = false;
    int64_t Length = 0;
    std::string Hex;
    int Line = 0; // line (1-based) of the statement's ";"
};

struct TPart {
    int64_t Length = 0;
    std::vector<uint8_t> Tdo, Mask; // Tdo empty: nothing compared
};

inline std::vector<uint8_t> HexBits(const std::string& Hex, int64_t Length) {
    std::vector<uint8_t> Bits(static_cast<size_t>(Length), 0);
    std::string Digits;
    for (char C : Hex)
        if (std::isxdigit(static_cast<unsigned char>(C)))
            Digits.push_back(C);
    for (int64_t I = 0; I < Length; ++I) {
        const int64_t D = static_cast<int64_t>(Digits.size()) - 1 - I / 4;
        if (D < 0)
            break;
        const char C = Digits[static_cast<size_t>(D)];
        const int V =
            std::isdigit(static_cast<unsigned char>(C)) ? C - '0' : (std::toupper(C) - 'A' + 10);
        Bits[static_cast<size_t>(I)] = static_cast<uint8_t>((V >> (I % 4)) & 1);
    }
    return Bits;
}

inline std::string BitsHex(const std::vector<uint8_t>& Bits) {
    std::string Hex((Bits.size() + 3) / 4, '0');
    for (size_t I = 0; I < Bits.size(); ++I)
        if (Bits[I]) {
            char& C = Hex[Hex.size() - 1 - I / 4];
            int V = std::isdigit(static_cast<unsigned char>(C)) ? C - '0' : C - 'A' + 10;
            V |= 1 << (I % 4);
            C = "0123456789ABCDEF"[V];
        }
    return Hex.empty() ? "0" : Hex;
}

// The statements of a file with the line of each ";", comments removed, upper case.
inline std::vector<std::pair<std::string, int>> Statements(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::string Text((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    std::vector<std::pair<std::string, int>> Out;
    std::string Current;
    int Line = 1;
    size_t Pos = 0;
    while (Pos < Text.size()) {
        size_t End = Text.find_first_of("\r\n", Pos);
        if (End == std::string::npos)
            End = Text.size();
        std::string L = Text.substr(Pos, End - Pos);
        const size_t Bang = L.find('!'), Slashes = L.find("//");
        L = L.substr(0, std::min(Bang, Slashes));
        for (char C : L) {
            if (C == ';') {
                Out.emplace_back(Current, Line);
                Current.clear();
            } else
                Current.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(C))));
        }
        Current.push_back(' ');
        Pos = End;
        if (Pos < Text.size() && Text[Pos] == '\r' && Pos + 1 < Text.size() &&
            Text[Pos + 1] == '\n')
            ++Pos;
        if (Pos < Text.size()) {
            ++Pos;
            ++Line;
        }
    }
    return Out;
}

// Words of a statement; a parenthesised value is one word without its blanks or parentheses.
inline std::vector<std::string> Words(const std::string& S) {
    std::vector<std::string> W;
    std::string Cur;
    bool InParens = false;
    for (char C : S) {
        if (C == '(') {
            if (!Cur.empty())
                W.push_back(Cur);
            Cur.assign(1, '(');
            InParens = true;
        } else if (C == ')') {
            W.push_back(Cur);
            Cur.clear();
            InParens = false;
        } else if (std::isspace(static_cast<unsigned char>(C))) {
            if (!InParens && !Cur.empty()) {
                W.push_back(Cur);
                Cur.clear();
            }
        } else
            Cur.push_back(C);
    }
    if (!Cur.empty())
        W.push_back(Cur);
    return W;
}

inline std::vector<TScan> Scans(const std::string& Path) {
    std::vector<TScan> Out;
    TPart Parts[6]; // HIR, SIR, TIR, HDR, SDR, TDR
    const char* Names[6] = {"HIR", "SIR", "TIR", "HDR", "SDR", "TDR"};
    for (const auto& [Statement, Line] : Statements(Path)) {
        const auto W = Words(Statement);
        if (W.empty())
            continue;
        int K = -1;
        for (int I = 0; I < 6; ++I)
            if (W[0] == Names[I])
                K = I;
        if (K < 0)
            continue;
        TPart& P = Parts[K];
        const int64_t Length = std::stoll(W[1]);
        std::string Tdo, Mask;
        bool HasTdo = false, HasMask = false;
        for (size_t I = 2; I + 1 < W.size(); ++I) {
            if (W[I] == "TDO")
                HasTdo = true, Tdo = W[I + 1];
            if (W[I] == "MASK")
                HasMask = true, Mask = W[I + 1];
        }
        if (HasMask)
            P.Mask = HexBits(Mask, Length);
        else if (P.Length != Length || P.Mask.size() != static_cast<size_t>(Length))
            P.Mask.assign(static_cast<size_t>(Length), 1);
        P.Tdo = HasTdo ? HexBits(Tdo, Length) : std::vector<uint8_t>();
        P.Length = Length;
        if (K != 1 && K != 4)
            continue;
        const int First = K == 1 ? 0 : 3;
        std::vector<uint8_t> Bits;
        for (int I = First; I < First + 3; ++I)
            for (int64_t B = 0; B < Parts[I].Length; ++B)
                Bits.push_back(!Parts[I].Tdo.empty() && Parts[I].Mask[static_cast<size_t>(B)]
                                   ? Parts[I].Tdo[static_cast<size_t>(B)]
                                   : 0);
        Out.push_back({K == 1, static_cast<int64_t>(Bits.size()), BitsHex(Bits), Line});
    }
    return Out;
}

inline std::string Script(const std::vector<TScan>& S) {
    std::string Text;
    for (const TScan& X : S)
        Text += std::string(X.Ir ? "IR " : "DR ") + std::to_string(X.Length) + " " + X.Hex + "\n";
    return Text;
}

} // namespace svfmodel
