#include "bench_files.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

namespace {

std::atomic<int> Counter{0};

std::string TempPath(const std::string& Suffix) {
    return (std::filesystem::temp_directory_path() / ("korvex-micro-" + std::to_string(::getpid()) +
                                                      "-" + std::to_string(Counter++) + Suffix))
        .string();
}

void Put32(std::vector<uint8_t>& Out, uint32_t V) {
    for (int Shift = 24; Shift >= 0; Shift -= 8)
        Out.push_back(static_cast<uint8_t>(V >> Shift));
}

} // namespace

TTempFile::TTempFile(const std::string& Suffix, const std::string& Content)
    : FPath(TempPath(Suffix)), FSize(static_cast<int64_t>(Content.size())) {
    std::ofstream Out(FPath, std::ios::binary);
    Out.write(Content.data(), static_cast<std::streamsize>(Content.size()));
    if (!Out)
        throw std::runtime_error("cannot write " + FPath);
}

TTempFile::~TTempFile() {
    std::remove(FPath.c_str());
}

std::string RandomHex(uint32_t Seed, int64_t Bits) {
    static const char Digits[] = "0123456789ABCDEF";
    std::mt19937 Rng(Seed);
    const int64_t N = (Bits + 3) / 4;
    std::string S(static_cast<size_t>(N), '0');
    for (auto& C : S)
        C = Digits[Rng() & 15];
    // The first digit holds only the bits the length leaves for it.
    if (const int64_t Spare = N * 4 - Bits; Spare > 0)
        S[0] = Digits[(Rng() & 15) >> Spare];
    return S;
}

std::string SmallStatementsSvf(int64_t Bytes, uint32_t Seed) {
    std::mt19937 Rng(Seed);
    std::string S = "ENDIR IDLE;\nENDDR IDLE;\nSTATE RESET;\nSTATE IDLE;\n";
    while (static_cast<int64_t>(S.size()) < Bytes) {
        const unsigned R = Rng() % 10;
        if (R < 3) {
            S += "SIR 8 TDI (" + RandomHex(Rng(), 8) + ")";
            if (Rng() & 1)
                S += " TDO (FF) MASK (FF)";
        } else if (R < 8) {
            const int64_t Bits = 8 + Rng() % 57;
            S += "SDR " + std::to_string(Bits) + " TDI (" + RandomHex(Rng(), Bits) + ")";
            if (Rng() & 1)
                S += " TDO (" + RandomHex(Rng(), Bits) + ") MASK (" + RandomHex(Rng(), Bits) + ")";
        } else {
            S += "RUNTEST " + std::to_string(1 + Rng() % 256) + " TCK";
        }
        S += ";\n";
    }
    return S;
}

std::string LongScansSvf(int64_t Bits, int Count, uint32_t Seed) {
    std::mt19937 Rng(Seed);
    std::string S = "STATE IDLE;\n";
    for (int I = 0; I < Count; ++I) {
        S += "SDR " + std::to_string(Bits) + " TDI (" + RandomHex(Rng(), Bits) + ")";
        if (I % 3 == 2)
            S += " TDO (" + RandomHex(Rng(), Bits) + ") MASK (" + RandomHex(Rng(), Bits) + ")";
        S += ";\n";
    }
    return S;
}

std::vector<uint8_t> ScansXsvf(int64_t Bits, int Count, uint32_t Seed) {
    std::mt19937 Rng(Seed);
    const auto Bytes = static_cast<size_t>((Bits + 7) / 8);
    std::vector<uint8_t> Out = {0x02, 8, 0xC0}; // XSIR 8
    Out.push_back(0x08);                        // XSDRSIZE
    Put32(Out, static_cast<uint32_t>(Bits));
    Out.push_back(0x01); // XTDOMASK: every bit
    Out.insert(Out.end(), Bytes, 0xFF);
    for (int I = 0; I < Count; ++I) {
        Out.push_back(0x09); // XSDRTDO: TDI, expected TDO
        for (size_t K = 0; K < 2 * Bytes; ++K)
            Out.push_back(static_cast<uint8_t>(Rng()));
    }
    Out.push_back(0x00); // XCOMPLETE
    return Out;
}
