#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>

#include "platform/sha256.h"
#include "platform/win32/bcrypt_digest.h"

namespace velkora::platform {
namespace win32 {
namespace {

void check(NTSTATUS status, const char* step) {
    if (status < 0) {
        char hex[16];
        std::snprintf(hex, sizeof(hex), "%lx", static_cast<unsigned long>(status));
        throw std::runtime_error(std::string(step) + " failed with NTSTATUS 0x" + hex);
    }
}

}  // namespace

BcryptHash::BcryptHash(const wchar_t* algorithm) {
    // A constructor that throws runs no destructor: whatever was opened is released here.
    try {
        check(BCryptOpenAlgorithmProvider(&algorithm_, algorithm, nullptr, 0),
              "BCryptOpenAlgorithmProvider");
        DWORD objectLength = 0;
        ULONG written = 0;
        check(BCryptGetProperty(algorithm_, BCRYPT_OBJECT_LENGTH,
                                reinterpret_cast<PUCHAR>(&objectLength), sizeof(objectLength),
                                &written, 0),
              "BCryptGetProperty(BCRYPT_OBJECT_LENGTH)");
        check(BCryptGetProperty(algorithm_, BCRYPT_HASH_LENGTH,
                                reinterpret_cast<PUCHAR>(&digestLength_), sizeof(digestLength_),
                                &written, 0),
              "BCryptGetProperty(BCRYPT_HASH_LENGTH)");
        hashObject_.assign(objectLength, 0);
        check(BCryptCreateHash(algorithm_, &hash_, hashObject_.data(), objectLength, nullptr, 0, 0),
              "BCryptCreateHash");
    } catch (...) {
        if (algorithm_ != nullptr) {
            BCryptCloseAlgorithmProvider(algorithm_, 0);
        }
        throw;
    }
}

BcryptHash::~BcryptHash() {
    BCryptDestroyHash(hash_);
    BCryptCloseAlgorithmProvider(algorithm_, 0);
}

void BcryptHash::update(std::span<const std::uint8_t> bytes) {
    // BCryptHashData takes a 32-bit length, so larger pieces go in parts. It takes a non-const
    // pointer but does not write through it.
    constexpr std::size_t kMostPerCall = std::numeric_limits<ULONG>::max();
    do {
        const std::size_t length = std::min(bytes.size(), kMostPerCall);
        check(
            BCryptHashData(hash_, const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(length), 0),
            "BCryptHashData");
        bytes = bytes.subspan(length);
    } while (!bytes.empty());
}

std::vector<std::uint8_t> BcryptHash::finish() {
    std::vector<std::uint8_t> digest(digestLength_, 0);
    check(BCryptFinishHash(hash_, digest.data(), digestLength_, 0), "BCryptFinishHash");
    return digest;
}

}  // namespace win32

struct Sha256::Context {
    win32::BcryptHash hash{BCRYPT_SHA256_ALGORITHM};
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {}

Sha256::~Sha256() = default;

void Sha256::update(std::span<const std::uint8_t> bytes) {
    context_->hash.update(bytes);
}

Sha256Digest Sha256::finish() {
    const std::vector<std::uint8_t> bytes = context_->hash.finish();
    Sha256Digest digest{};
    if (bytes.size() != digest.size()) {
        throw std::runtime_error("BCryptGetProperty(BCRYPT_HASH_LENGTH) gave an unexpected size.");
    }
    std::copy(bytes.begin(), bytes.end(), digest.begin());
    return digest;
}

}  // namespace velkora::platform
