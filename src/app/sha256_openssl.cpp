#include <openssl/evp.h>

#include "sha256.h"

struct TSha256::TState {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> Ctx{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
    bool Ok = false;
};

TSha256::TSha256() : FState(std::make_unique<TState>()) {
    FState->Ok = FState->Ctx && EVP_DigestInit_ex(FState->Ctx.get(), EVP_sha256(), nullptr) == 1;
}

TSha256::~TSha256() = default;

bool TSha256::Update(const void* Data, size_t Size) {
    FState->Ok = FState->Ok && EVP_DigestUpdate(FState->Ctx.get(), Data, Size) == 1;
    return FState->Ok;
}

std::string TSha256::HexDigest() {
    unsigned char Digest[EVP_MAX_MD_SIZE];
    unsigned int Length = 0;
    if (!FState->Ok || EVP_DigestFinal_ex(FState->Ctx.get(), Digest, &Length) != 1)
        return "";
    FState->Ok = false;
    return HexOfBytes(Digest, Length);
}
