#include "tests/e2e/firmware_package.h"

#include "app/common/text.h"
#include "platform/sha256.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {

void writeFirmwarePackage(const std::filesystem::path& programFolder,
                          const FirmwarePackageProfile& profile) {
    const std::string compatibility = formatHexByte(profile.compatibility);
    std::string image =
        "VELKORA-SIM-IMAGE compatibility=" + compatibility + " version=" + profile.version + "\n";
    for (std::size_t i = 0; image.size() < profile.bodyBytes; ++i) {
        image += static_cast<char>('a' + i % 26);
    }
    platform::Sha256 hash;
    hash.update(std::span(reinterpret_cast<const std::uint8_t*>(image.data()), image.size()));
    const std::string sha = formatHexBytes(hash.finish());
    const std::string imageName = "velkora_" + profile.version + ".sfb";
    const std::filesystem::path folder = programFolder / "firmware";
    std::filesystem::create_directories(folder);
    writeFileText(folder / imageName, image);
    writeFileText(folder / "update_manifest.json",
                  "{\n"
                  "  \"package_format\": \"zuq_hid_sbsfu_update\",\n"
                  "  \"product\": \"ZUQ\",\n"
                  "  \"firmware_version\": \"" +
                      profile.version +
                      "\",\n"
                      "  \"sfb_file\": \"" +
                      imageName +
                      "\",\n"
                      "  \"sfb_sha256\": \"" +
                      sha +
                      "\",\n"
                      "  \"package_compatibility\": \"" +
                      compatibility +
                      "\"\n"
                      "}\n");
}

}  // namespace velkora::testing
