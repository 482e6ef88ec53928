#include "package/sha256_hex.h"

#include "platform/sha256.h"

namespace velkora {

std::string sha256Hex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const platform::Sha256Digest digest = platform::computeSha256(bytes);
    std::string hex;
    hex.reserve(digest.size() * 2);
    for (const std::uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

}  // namespace velkora
