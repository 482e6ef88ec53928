#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

#include "platform/sha256.h"

namespace velkora::platform {

Sha256Digest computeSha256(std::span<const std::uint8_t> bytes) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    if (!context) {
        throw std::runtime_error("EVP_MD_CTX_new failed.");
    }
    if (EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("EVP_DigestInit_ex failed.");
    }
    if (EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1) {
        throw std::runtime_error("EVP_DigestUpdate failed.");
    }
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
        throw std::runtime_error("EVP_DigestFinal_ex failed.");
    }
    return digest;
}

}  // namespace velkora::platform
