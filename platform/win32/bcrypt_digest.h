#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <cstdint>
#include <span>
#include <vector>

namespace velkora::platform::win32 {

// One hash computation under the named CNG algorithm ("SHA256", "SHA1", ...), fed piece by
// piece. Every failure is a runtime error "<call> failed with NTSTATUS 0x<status>" naming the
// call that failed; the handles are released on every path. It takes the algorithm's name so
// that the failure path can be driven with an algorithm the system does not know.
class BcryptHash {
  public:
    explicit BcryptHash(const wchar_t* algorithm);
    ~BcryptHash();
    BcryptHash(const BcryptHash&) = delete;
    BcryptHash& operator=(const BcryptHash&) = delete;

    void update(std::span<const std::uint8_t> bytes);

    // The digest, as long as the algorithm makes it; call it once, at the end.
    std::vector<std::uint8_t> finish();

  private:
    // The hash object's memory must outlive the hash handle, which the destructor destroys
    // first.
    std::vector<UCHAR> hashObject_;
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    DWORD digestLength_ = 0;
};

}  // namespace velkora::platform::win32
