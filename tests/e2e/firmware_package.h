#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace velkora::testing {

// A firmware package as the build makes one for the demo: a manifest and an image that
// starts with the simulator's header line, so that an installed image reports its version.
struct FirmwarePackageProfile {
    std::uint8_t compatibility = 0x03;
    std::string version = "1.5.0.0";  // four numbers from 0 to 255
    std::size_t bodyBytes = 2000;
};

// Writes firmware/update_manifest.json and firmware/<image> into the program folder.
void writeFirmwarePackage(const std::filesystem::path& programFolder,
                          const FirmwarePackageProfile& profile);

}  // namespace velkora::testing
