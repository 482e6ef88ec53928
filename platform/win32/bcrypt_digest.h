#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace velkora::platform::win32 {

// The digest of the bytes under the named CNG hash algorithm ("SHA256", "SHA1", ...). Fails
// with "<call> failed with NTSTATUS 0x<status>" naming the call that failed; every handle is
// released first. Exposed on its own so that the failure path can be driven with an algorithm
// the system does not know.
std::vector<std::uint8_t> bcryptDigest(const wchar_t* algorithm,
                                       std::span<const std::uint8_t> bytes);

}  // namespace velkora::platform::win32
