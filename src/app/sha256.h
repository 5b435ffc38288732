#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

// A SHA-256 digest computed piece by piece, from the system's own cryptography: OpenSSL's libcrypto
// on Linux, Windows' bcrypt (the CNG provider every Windows since Vista has) on Windows, so the
// Windows zip carries no crypto library.
class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    // False when the hash could not be started or fed; the digest is then empty.
    bool Update(const void* Data, size_t Size);
    // Lower-case hexadecimal, 64 digits; empty after a failure. Ends the hash.
    std::string HexDigest();

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

// Lower-case hexadecimal text of Size bytes.
inline std::string HexOfBytes(const unsigned char* Bytes, size_t Size) {
    std::string Hex;
    char Byte[3];
    for (size_t I = 0; I < Size; ++I) {
        std::snprintf(Byte, sizeof Byte, "%02x", Bytes[I]);
        Hex += Byte;
    }
    return Hex;
}
