#include "tests/e2e/firmware_package.h"

#include "platform/sha256.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {
namespace {

std::string hexByte(std::uint8_t value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    return {kHex[value >> 4], kHex[value & 0x0F]};
}

}  // namespace

void writeFirmwarePackage(const std::filesystem::path& programFolder,
                          const FirmwarePackageProfile& profile) {
    const std::string compatibility = "0x" + hexByte(profile.compatibility);
    std::string image =
        "VELKORA-SIM-IMAGE compatibility=" + compatibility + " version=" + profile.version + "\n";
    for (std::size_t i = 0; image.size() < profile.bodyBytes; ++i) {
        image += static_cast<char>('a' + i % 26);
    }
    std::string sha;
    for (std::uint8_t byte : platform::computeSha256(
             std::span(reinterpret_cast<const std::uint8_t*>(image.data()), image.size()))) {
        sha += hexByte(byte);
    }
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
