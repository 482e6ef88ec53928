#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <vector>

#include "common/run_log.h"
#include "package/update_manifest.h"

namespace velkora {

// A manifest and the image it names, proven against the manifest's SHA-256. The image is never
// empty and never larger than an unsigned 32-bit size can announce.
struct FirmwarePackage {
    UpdateManifest manifest;
    std::vector<std::uint8_t> image;
};

// Loads `firmware/update_manifest.json` and its image from the program's folder. A missing
// manifest or image is no failure: one run-log line says which, and there is no package. Every
// other defect fails with a runtime error whose message is shown to the user. The package's
// version, file, compatibility and computed digest go to the run log.
std::optional<FirmwarePackage> loadFirmwarePackage(const std::filesystem::path& programFolder,
                                                   RunLog& log);

// The same from a package folder given by its own path rather than the program's.
std::optional<FirmwarePackage> loadFirmwarePackageFolder(const std::filesystem::path& packageFolder,
                                                         RunLog& log);

// What the user reads about the package: its version, its image file and that the image was
// proven, or that there is none and so no update.
void printPackageSummary(std::ostream& out, const std::optional<FirmwarePackage>& package);

}  // namespace velkora
