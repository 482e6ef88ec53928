#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/run_log.h"
#include "hid/hid_exchange.h"
#include "package/firmware_version.h"

namespace velkora {

// Decoded GET_INFO answer.
struct BootloaderInfo {
    std::uint8_t protocolMajor = 0;
    std::uint8_t protocolMinor = 0;
    std::uint8_t reportLength = 0;
    std::uint8_t payloadCapacity = 0;
    std::array<std::uint8_t, 12> deviceId{};
    bool hasDeviceId = false;  // protocol minor 2 and later carry the device ID
    FirmwareVersion bootloaderVersion;
    FirmwareVersion hardwareVersion;
    std::uint8_t compatibility = 0;
};

// Decoded GET_APP_INFO answer.
struct AppInfo {
    bool valid = false;
    FirmwareVersion hardwareInterface;
    FirmwareVersion softwareVersion;
    std::uint8_t compatibility = 0;
};

// The transfer states GET_STATUS reports.
namespace bootloader_state {
inline constexpr std::uint8_t kIdle = 0;
inline constexpr std::uint8_t kReceiving = 1;
inline constexpr std::uint8_t kFinished = 2;
inline constexpr std::uint8_t kError = 3;
}  // namespace bootloader_state

// Decoded GET_STATUS answer.
struct BootloaderStatus {
    std::uint8_t state = 0;
    bool active = false;
    std::uint8_t lastCommand = 0;
    std::uint8_t lastStatus = 0;
    std::uint32_t expected = 0;
    std::uint32_t received = 0;
};

// Decoded END_UPDATE answer, whatever its status.
struct EndUpdateResult {
    std::uint8_t status = 0;
    std::uint32_t bytes = 0;
};

// The decoders check the status first ("GET_INFO failed: BUSY" and so on); fields beyond the
// bytes received read as zero.
BootloaderInfo parseBootloaderInfo(const HidResponse& response);
AppInfo parseAppInfo(const HidResponse& response);
BootloaderStatus parseBootloaderStatus(const HidResponse& response);
EndUpdateResult parseEndUpdateResult(const HidResponse& response);

// True when the updater speaks the bootloader's protocol: major 1, minor at least 1, 64-byte
// reports and room for 56-byte payloads.
bool isSupportedBootloader(const BootloaderInfo& info);

// "state=RECEIVING active=1 last_command=0x05 last_status=OK expected=200000 received=51000"
std::string formatStatusSummary(const BootloaderStatus& status);

// Writes "<prefix> <summary>" to the run log.
void logStatusSummary(RunLog& log, std::string_view prefix, const BootloaderStatus& status);

// The four components in decimal joined by ".".
std::string formatVersion(const FirmwareVersion& version);

// Ten hexadecimal digits for bytes 0-4, then bytes 5-11 as printable characters; empty when
// any of those seven is not printable.
std::string formatDeviceId(const std::array<std::uint8_t, 12>& deviceId);

}  // namespace velkora
