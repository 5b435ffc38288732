#include <algorithm>

#include <windows.h>

#include <bcrypt.h>

#include "sha256.h"

struct TSha256::TState {
    BCRYPT_ALG_HANDLE Algorithm = nullptr;
    BCRYPT_HASH_HANDLE Hash = nullptr;
    bool Ok = false;
    ~TState() {
        if (Hash)
            BCryptDestroyHash(Hash);
        if (Algorithm)
            BCryptCloseAlgorithmProvider(Algorithm, 0);
    }
};

namespace {
bool Succeeded(NTSTATUS Status) {
    return Status >= 0;
}
} // namespace

TSha256::TSha256() : FState(std::make_unique<TState>()) {
    // The hash object's memory is left to bcrypt (null buffer), which Windows 7 and later allow.
    FState->Ok =
        Succeeded(
            BCryptOpenAlgorithmProvider(&FState->Algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
        Succeeded(BCryptCreateHash(FState->Algorithm, &FState->Hash, nullptr, 0, nullptr, 0, 0));
}

TSha256::~TSha256() = default;

bool TSha256::Update(const void* Data, size_t Size) {
    auto* Bytes = static_cast<unsigned char*>(const_cast<void*>(Data));
    // bcrypt takes at most 4 GiB a call.
    while (FState->Ok && Size > 0) {
        const ULONG Chunk = static_cast<ULONG>(std::min<size_t>(Size, 1u << 30));
        FState->Ok = Succeeded(BCryptHashData(FState->Hash, Bytes, Chunk, 0));
        Bytes += Chunk;
        Size -= Chunk;
    }
    return FState->Ok;
}

std::string TSha256::HexDigest() {
    unsigned char Digest[32];
    if (!FState->Ok || !Succeeded(BCryptFinishHash(FState->Hash, Digest, sizeof Digest, 0)))
        return "";
    FState->Ok = false;
    return HexOfBytes(Digest, sizeof Digest);
}
