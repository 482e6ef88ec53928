#include "package/update_manifest.h"

#include <algorithm>
#include <stdexcept>

#include "common/text.h"
#include "package/manifest_string.h"
#include "package/manifest_values.h"
#include "package/package_files.h"

namespace velkora {
namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::string readTextFile(const std::filesystem::path& path) {
    return readWholeFile<std::string>(path, kMaxManifestBytes, "Manifest file is too large.");
}

UpdateManifest parseUpdateManifestText(std::string_view text) {
    UpdateManifest manifest;
    manifest.package_format = extractManifestString(text, "package_format");
    manifest.product = extractManifestString(text, "product");
    manifest.firmware_version = extractManifestString(text, "firmware_version");
    manifest.sfb_file = extractManifestString(text, "sfb_file");
    manifest.sfb_sha256 = extractManifestString(text, "sfb_sha256");
    // Converted at once, so a bad compatibility value is reported before the checks below.
    manifest.package_compatibility =
        parsePackageCompatibility(extractManifestString(text, "package_compatibility"));

    if (manifest.package_format != "zuq_hid_sbsfu_update") {
        throw std::runtime_error("Unsupported package_format: " + manifest.package_format);
    }
    if (manifest.product != "ZUQ") {
        throw std::runtime_error("Unsupported product: " + manifest.product);
    }
    if (!isPlainFileName(manifest.sfb_file)) {
        throw std::runtime_error("sfb_file must be a plain filename in the firmware folder.");
    }
    if (manifest.sfb_sha256.size() != 64 ||
        !std::all_of(manifest.sfb_sha256.begin(), manifest.sfb_sha256.end(), isHexDigit)) {
        throw std::runtime_error("sfb_sha256 must be 64 hex characters.");
    }
    manifest.version = parseFirmwareVersion(manifest.firmware_version, "firmware_version");
    manifest.sfb_sha256 = toUpperAscii(manifest.sfb_sha256);
    return manifest;
}

UpdateManifest readUpdateManifest(const std::filesystem::path& path) {
    return parseUpdateManifestText(readTextFile(path));
}

}  // namespace velkora
