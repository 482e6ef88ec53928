#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace velkora::platform {

using Sha256Digest = std::array<std::uint8_t, 32>;

// A SHA-256 digest computed by the operating system's cryptography library, fed piece by piece
// as the bytes arrive. Hashing each piece of a file while it is still in the processor's cache
// is much faster than hashing the whole file from memory afterwards. Every failure is a runtime
// error that names the library call that failed.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(std::span<const std::uint8_t> bytes);

    // The digest of everything given to update(); call it once, at the end.
    Sha256Digest finish();

  private:
    struct Context;
    std::unique_ptr<Context> context_;
};

}  // namespace velkora::platform
