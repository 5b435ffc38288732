#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Inputs of the micro-benchmarks: deterministic SVF and XSVF text written to temporary files,
// since the players read their input from a file by name.

// A file in the temporary directory that is removed again with this object.
class TTempFile {
public:
    TTempFile(const std::string& Suffix, const std::string& Content);
    ~TTempFile();
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    const std::string& Path() const { return FPath; }
    int64_t Size() const { return FSize; }

private:
    std::string FPath;
    int64_t FSize = 0;
};

// Hex digits of a value of Bits bits, most significant digit first.
std::string RandomHex(uint32_t Seed, int64_t Bits);

// About Bytes bytes of short statements: SIR 8, SDR 8 to 64 bits (half with TDO and MASK),
// RUNTEST 1 to 256 TCK.
std::string SmallStatementsSvf(int64_t Bytes, uint32_t Seed);

// Count DR scans of Bits bits, each on one line; every third one with TDO and MASK.
std::string LongScansSvf(int64_t Bits, int Count, uint32_t Seed);

// An XSVF file of Count XSDRTDO commands of Bits bits (with a full XTDOMASK) after an XSIR.
std::vector<uint8_t> ScansXsvf(int64_t Bits, int Count, uint32_t Seed);
