#include "package/firmware_package.h"

#include <ostream>
#include <stdexcept>
#include <string>

#include "common/text.h"
#include "package/package_files.h"
#include "platform/native_string.h"
#include "platform/sha256.h"

namespace velkora {

std::optional<FirmwarePackage> loadFirmwarePackage(const std::filesystem::path& programFolder,
                                                   RunLog& log) {
    return loadFirmwarePackageFolder(programFolder / "firmware", log);
}

std::optional<FirmwarePackage> loadFirmwarePackageFolder(const std::filesystem::path& packageFolder,
                                                         RunLog& log) {
    // The folder itself is not looked at: without it, the manifest is simply missing.
    const std::filesystem::path manifestPath = packageFolder / "update_manifest.json";
    if (!pathExists(manifestPath)) {
        log.writeLine("firmware package unavailable: update_manifest.json was not found");
        return std::nullopt;
    }

    FirmwarePackage package;
    package.manifest = readUpdateManifest(manifestPath);
    const UpdateManifest& manifest = package.manifest;

    // The manifest is UTF-8 text; the file system takes the name in its own encoding.
    const std::filesystem::path imagePath = packageFolder / platform::fromUtf8(manifest.sfb_file);
    if (!pathExists(imagePath)) {
        log.writeLine("firmware package unavailable: " + manifest.sfb_file + " was not found");
        return std::nullopt;
    }
    // The image is hashed piece by piece as it is read.
    platform::Sha256 hash;
    package.image = readWholeFile<std::vector<std::uint8_t>>(
        imagePath, kMaxImageBytes, "The .sfb file is too large.",
        [&hash](std::span<const std::uint8_t> piece) { hash.update(piece); });
    if (package.image.empty()) {
        throw std::runtime_error("The .sfb file is empty.");
    }

    log.writeLine("package firmware_version=" + manifest.firmware_version);
    log.writeLine("package sfb_file=" + manifest.sfb_file);
    log.writeLine("package compatibility=" + formatHexByte(manifest.package_compatibility));
    // The computed digest is logged before the comparison, so a mismatch leaves it on record.
    const std::string digest = formatHexBytes(hash.finish());
    log.writeLine("package sfb_sha256=" + digest);
    if (digest != manifest.sfb_sha256) {
        throw std::runtime_error("Update firmware SHA-256 mismatch. Expected " +
                                 manifest.sfb_sha256 + " but calculated " + digest + ".");
    }
    return package;
}

void printPackageSummary(std::ostream& out, const std::optional<FirmwarePackage>& package) {
    if (package) {
        out << "Update firmware version: " << package->manifest.firmware_version << "\n"
            << "Firmware file: " << package->manifest.sfb_file << "\n"
            << "Update firmware SHA-256 verified.\n\n";
    } else {
        out << "No update firmware was found. Firmware update is unavailable.\n\n";
    }
}

}  // namespace velkora
