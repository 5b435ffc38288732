#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// A second, deliberately separate reading of an XSVF file for the end-to-end tests: it lists the
// visits of Shift-IR/Shift-DR the file makes and the TDO a device matching the file would drive
// in each, so the simulated target can be scripted to answer what the file expects. It shares no
// code with the player.
struct TXsvfScan {
    bool Ir = false;
    std::vector<uint8_t> Tdo; // one byte per bit, bit 0 first; its size is the scan length
};

struct TXsvfScanList {
    std::vector<TXsvfScan> Scans;
    int Unsupported = -1; // the first opcode outside the supported set, or -1
    bool Complete = false;
    int Commands = 0; // up to and including XCOMPLETE
};

inline TXsvfScanList ListXsvfScans(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    const std::vector<uint8_t> F((std::istreambuf_iterator<char>(In)),
                                 std::istreambuf_iterator<char>());
    TXsvfScanList L;
    size_t P = 0;
    uint32_t SdrSize = 8;
    std::vector<uint8_t> Mask(8, 0), Expected(8, 0);
    std::vector<uint8_t> DataMask; // XSETSDRMASKS: the bits of an XSDRINC step that carry data
    bool InChain = false;          // inside an XSDRB ... XSDRE run: one visit of Shift-DR
    auto Bytes = [&] { return static_cast<size_t>((SdrSize + 7) / 8); };
    // Bits of the big-endian value at P of Size bits (the last byte holds bit 0).
    auto Value = [&](size_t At, uint32_t Size) {
        const size_t N = (Size + 7) / 8;
        std::vector<uint8_t> B(Size);
        for (uint32_t I = 0; I < Size; ++I)
            B[I] = (F.at(At + N - 1 - I / 8) >> (I % 8)) & 1;
        return B;
    };
    auto U32 = [&](size_t At) {
        return (uint32_t{F.at(At)} << 24) | (uint32_t{F.at(At + 1)} << 16) |
               (uint32_t{F.at(At + 2)} << 8) | F.at(At + 3);
    };
    auto Visit = [&](bool Ir, std::vector<uint8_t> Tdo) {
        // A scan of no bits still passes through the shift state and clocks once on the way out.
        if (Tdo.empty())
            Tdo.push_back(0);
        L.Scans.push_back({Ir, std::move(Tdo)});
    };
    auto Compared = [&](const std::vector<uint8_t>& Exp, const std::vector<uint8_t>* M) {
        std::vector<uint8_t> T(SdrSize, 0);
        for (uint32_t I = 0; I < SdrSize; ++I)
            if (!M || (*M)[I])
                T[I] = Exp[I];
        return T;
    };
    while (P < F.size()) {
        const uint8_t Op = F[P++];
        ++L.Commands;
        switch (Op) {
        case 0x00:
            L.Complete = true;
            return L;
        case 0x01:
            Mask = Value(P, SdrSize);
            P += Bytes();
            break;
        case 0x02:
        case 0x15: { // XSIR, XSIR2 (two length bytes)
            const size_t LengthBytes = Op == 0x02 ? 1 : 2;
            const uint32_t Len = Op == 0x02 ? F.at(P) : (uint32_t{F.at(P)} << 8 | F.at(P + 1));
            Visit(true, std::vector<uint8_t>(Len, 0));
            P += LengthBytes + (Len + 7) / 8;
            break;
        }
        case 0x0A: // XSETSDRMASKS: address mask, data mask
            DataMask = Value(P + Bytes(), SdrSize);
            P += 2 * Bytes();
            break;
        case 0x0B: { // XSDRINC: start address, a count, then that many data pieces
            Visit(false, Compared(Expected, &Mask));
            P += Bytes();
            const uint8_t Times = F.at(P++);
            size_t DataBits = 0;
            for (uint8_t B : DataMask)
                DataBits += B;
            for (uint8_t I = 0; I < Times; ++I) {
                Visit(false, Compared(Expected, &Mask));
                P += (DataBits + 7) / 8;
            }
            break;
        }
        case 0x1B: // LSDR: TDI, expected TDO; a device that matches answers at the first try
            Expected = Value(P + Bytes(), SdrSize);
            Visit(false, Compared(Expected, &Mask));
            P += 2 * Bytes();
            break;
        case 0x17: // XWAIT: wait state, end state, microseconds
            P += 6;
            break;
        case 0x18: // XWAITSTATE: wait state, end state, clocks, microseconds
            P += 10;
            break;
        case 0x19: // LCOUNT
            P += 4;
            break;
        case 0x1A: // LDELAY: state, clocks, microseconds
            P += 9;
            break;
        case 0x1C: // XTRST
            P += 1;
            break;
        case 0x03: // XSDR: compared with the last expected value under the mask
            Visit(false, Compared(Expected, &Mask));
            P += Bytes();
            break;
        case 0x09:
            Expected = Value(P + Bytes(), SdrSize);
            Visit(false, Compared(Expected, &Mask));
            P += 2 * Bytes();
            break;
        case 0x0C:
        case 0x0D:
        case 0x0E:
        case 0x0F:
        case 0x10:
        case 0x11: {
            const bool WithTdo = Op >= 0x0F;
            std::vector<uint8_t> Part(SdrSize, 0);
            if (WithTdo) {
                Expected = Value(P + Bytes(), SdrSize);
                Part = Compared(Expected, nullptr);
            }
            P += (WithTdo ? 2 : 1) * Bytes();
            const bool Begins = Op == 0x0C || Op == 0x0F;
            if (Begins || !InChain) {
                L.Scans.push_back({false, {}});
                InChain = true;
            }
            auto& T = L.Scans.back().Tdo;
            T.insert(T.end(), Part.begin(), Part.end());
            if (Op == 0x0E || Op == 0x11)
                InChain = false;
            break;
        }
        case 0x04:
            P += 4;
            break;
        case 0x08:
            SdrSize = U32(P);
            P += 4;
            Mask.resize(SdrSize, 0);
            Expected.resize(SdrSize, 0);
            DataMask.resize(SdrSize, 0);
            break;
        case 0x07:
        case 0x12:
        case 0x13:
        case 0x14:
            P += 1;
            break;
        case 0x16:
            while (P < F.size() && F[P++] != 0) {
            }
            break;
        default:
            L.Unsupported = Op;
            return L;
        }
    }
    return L;
}

// The simulator's TDO script for these scans: "IR|DR <length> <hex>", bit 0 in the last digit.
inline std::string XsvfTdoScript(const std::vector<TXsvfScan>& Scans) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string S;
    for (const auto& Scan : Scans) {
        const size_t N = Scan.Tdo.size();
        std::vector<int> Nibbles((N + 3) / 4, 0); // most significant first
        for (size_t I = 0; I < N; ++I)
            if (Scan.Tdo[I])
                Nibbles[Nibbles.size() - 1 - I / 4] |= 1 << (I % 4);
        std::string Hex;
        for (int V : Nibbles)
            Hex += Digits[V];
        S += std::string(Scan.Ir ? "IR " : "DR ") + std::to_string(N) + " " + Hex + "\n";
    }
    return S;
}
