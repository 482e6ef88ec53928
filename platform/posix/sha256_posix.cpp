#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

#include "platform/sha256.h"

namespace velkora::platform {

struct Sha256::Context {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> evp{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
    if (!context_->evp) {
        throw std::runtime_error("EVP_MD_CTX_new failed.");
    }
    if (EVP_DigestInit_ex(context_->evp.get(), EVP_sha256(), nullptr) != 1) {
        throw std::runtime_error("EVP_DigestInit_ex failed.");
    }
}

Sha256::~Sha256() = default;

void Sha256::update(std::span<const std::uint8_t> bytes) {
    if (EVP_DigestUpdate(context_->evp.get(), bytes.data(), bytes.size()) != 1) {
        throw std::runtime_error("EVP_DigestUpdate failed.");
    }
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_->evp.get(), digest.data(), &length) != 1 ||
        length != digest.size()) {
        throw std::runtime_error("EVP_DigestFinal_ex failed.");
    }
    return digest;
}

}  // namespace velkora::platform
