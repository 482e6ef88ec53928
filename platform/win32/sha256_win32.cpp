// <windows.h> has to come first: the other system headers rely on its types.
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/sha256.h"
#include "platform/win32/bcrypt_digest.h"

namespace velkora::platform {
namespace win32 {
namespace {

std::string ntStatusMessage(const char* step, NTSTATUS status) {
    char hex[16];
    std::snprintf(hex, sizeof(hex), "%lx", static_cast<unsigned long>(status));
    return std::string(step) + " failed with NTSTATUS 0x" + hex;
}

// Owns the provider and the hash object, so that no handle outlives the call on any path. The
// hash object's memory must outlive the hash handle: the destructor's body destroys the
// handle before the member buffer goes away.
struct HashHandles {
    std::vector<UCHAR> hashObject;
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~HashHandles() {
        if (hash != nullptr) {
            BCryptDestroyHash(hash);
        }
        if (algorithm != nullptr) {
            BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
};

void check(NTSTATUS status, const char* step) {
    if (status < 0) {
        throw std::runtime_error(ntStatusMessage(step, status));
    }
}

}  // namespace

std::vector<std::uint8_t> bcryptDigest(const wchar_t* algorithmName,
                                       std::span<const std::uint8_t> bytes) {
    // BCryptHashData takes a 32-bit length; the package loader never hands over more.
    if (bytes.size() > std::numeric_limits<ULONG>::max()) {
        throw std::runtime_error("BCryptHashData failed: the data is too large.");
    }
    HashHandles handles;
    check(BCryptOpenAlgorithmProvider(&handles.algorithm, algorithmName, nullptr, 0),
          "BCryptOpenAlgorithmProvider");

    DWORD objectLength = 0;
    DWORD digestLength = 0;
    ULONG written = 0;
    check(BCryptGetProperty(handles.algorithm, BCRYPT_OBJECT_LENGTH,
                            reinterpret_cast<PUCHAR>(&objectLength), sizeof(objectLength), &written,
                            0),
          "BCryptGetProperty(BCRYPT_OBJECT_LENGTH)");
    check(BCryptGetProperty(handles.algorithm, BCRYPT_HASH_LENGTH,
                            reinterpret_cast<PUCHAR>(&digestLength), sizeof(digestLength), &written,
                            0),
          "BCryptGetProperty(BCRYPT_HASH_LENGTH)");

    handles.hashObject.assign(objectLength, 0);
    std::vector<std::uint8_t> digest(digestLength, 0);
    check(BCryptCreateHash(handles.algorithm, &handles.hash, handles.hashObject.data(),
                           objectLength, nullptr, 0, 0),
          "BCryptCreateHash");
    // BCryptHashData takes a non-const pointer but does not write through it.
    check(BCryptHashData(handles.hash, const_cast<PUCHAR>(bytes.data()),
                         static_cast<ULONG>(bytes.size()), 0),
          "BCryptHashData");
    check(BCryptFinishHash(handles.hash, digest.data(), digestLength, 0), "BCryptFinishHash");
    return digest;
}

}  // namespace win32

Sha256Digest computeSha256(std::span<const std::uint8_t> bytes) {
    const std::vector<std::uint8_t> digestBytes =
        win32::bcryptDigest(BCRYPT_SHA256_ALGORITHM, bytes);
    Sha256Digest digest{};
    if (digestBytes.size() != digest.size()) {
        throw std::runtime_error("BCryptGetProperty(BCRYPT_HASH_LENGTH) gave an unexpected size.");
    }
    std::copy(digestBytes.begin(), digestBytes.end(), digest.begin());
    return digest;
}

}  // namespace velkora::platform
