#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace velkora::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

// The SHA-256 digest of the bytes, computed by the operating system's cryptography library.
// Fails with a runtime error that names the failing library call.
Sha256Digest computeSha256(std::span<const std::uint8_t> bytes);

}  // namespace velkora::platform
