#include "bootloader/bootloader_commands.h"

#include <array>
#include <stdexcept>

#include "common/exceptions.h"
#include "common/text.h"

namespace velkora {
namespace {

// Code 11 has never been given a name; nor has anything above 18.
constexpr std::array<const char*, 19> kStatusNames{
    "OK",         "BAD_MAGIC",    "UNKNOWN_CMD", "BAD_LENGTH",      "BAD_VERSION",
    "BUSY",       "BAD_SIZE",     "NOT_ACTIVE",  "OFFSET_MISMATCH", "SIZE_OVERFLOW",
    "INCOMPLETE", nullptr,        "DUPLICATE",   "QUEUE_FULL",      "SBSFU_ERROR",
    "AUTH_ERROR", "CRYPTO_ERROR", "FLASH_ERROR", "COMPAT_MISMATCH"};

}  // namespace

std::string bootloaderStatusName(std::uint8_t status) {
    if (status < kStatusNames.size() && kStatusNames[status] != nullptr) {
        return kStatusNames[status];
    }
    return "STATUS_" + formatHexByte(status);
}

std::string applicationStatusName(std::uint8_t status) {
    return status == 6 ? "FAILED" : bootloaderStatusName(status);
}

void requireOk(const std::string& label, const HidResponse& response) {
    if (response.responseStatus() != bootloader_status::kOk) {
        throw DeviceRefused(label + " failed: " + bootloaderStatusName(response.responseStatus()));
    }
}

}  // namespace velkora
