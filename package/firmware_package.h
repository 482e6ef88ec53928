#pragma once

#include <cstdint>
#include <filesystem>
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

}  // namespace velkora
