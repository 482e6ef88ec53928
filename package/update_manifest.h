#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "package/firmware_version.h"

namespace velkora {

// The validated manifest of a firmware package. The member names are the manifest's own keys.
struct UpdateManifest {
    std::string package_format;
    std::string product;
    FirmwareVersion version;       // parsed from firmware_version
    std::string firmware_version;  // as the manifest writes it, unescaped
    std::string sfb_file;          // a plain file name inside the firmware folder
    std::string sfb_sha256;        // 64 hexadecimal digits, upper case
    std::uint8_t package_compatibility = 0;
};

// A manifest is a few hundred bytes; anything beyond this is not one, and is refused before it
// is read into memory.
inline constexpr std::uintmax_t kMaxManifestBytes = std::uintmax_t{1024} * 1024;

// The whole manifest file, bytes unchanged. Fails with "Unable to open <path>" and, for a file
// larger than kMaxManifestBytes, with "Manifest file is too large.".
std::string readTextFile(const std::filesystem::path& path);

// Extracts and checks the six members of the manifest text; the first defect ends the read
// with its message.
UpdateManifest parseUpdateManifestText(std::string_view text);

// Reads the manifest file and parses it.
UpdateManifest readUpdateManifest(const std::filesystem::path& path);

}  // namespace velkora
