#pragma once

#include <cstdint>

namespace velkora {

// A version of four components; written with three, the build is 0. The package's version
// and the versions the adapter reports share this type.
struct FirmwareVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t patch = 0;
    std::uint32_t build = 0;

    friend bool operator==(const FirmwareVersion&, const FirmwareVersion&) = default;
};

}  // namespace velkora
