#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace velkora {

// The SHA-256 digest of the bytes as 64 upper-case hexadecimal digits. Fails with the
// cryptography library's error ("BCryptHashData failed with NTSTATUS 0x...").
std::string sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace velkora
