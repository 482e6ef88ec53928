#include "bootloader/bootloader_records.h"

#include "bootloader/bootloader_commands.h"
#include "common/text.h"

namespace velkora {
namespace {

FirmwareVersion versionAt(const HidResponse& response, std::size_t offset) {
    return FirmwareVersion{response.responsePayload(offset), response.responsePayload(offset + 1),
                           response.responsePayload(offset + 2),
                           response.responsePayload(offset + 3)};
}

std::string stateName(std::uint8_t state) {
    switch (state) {
        case bootloader_state::kIdle:
            return "IDLE";
        case bootloader_state::kReceiving:
            return "RECEIVING";
        case bootloader_state::kFinished:
            return "FINISHED";
        case bootloader_state::kError:
            return "ERROR";
        default:
            return "STATE_" + formatHexByte(state);
    }
}

}  // namespace

BootloaderInfo parseBootloaderInfo(const HidResponse& response) {
    requireOk("GET_INFO", response);
    BootloaderInfo info;
    info.protocolMajor = response.responsePayload(0);
    info.protocolMinor = response.responsePayload(1);
    info.reportLength = response.responsePayload(2);
    info.payloadCapacity = response.responsePayload(3);
    if (info.protocolMinor >= 2) {
        for (std::size_t i = 0; i < info.deviceId.size(); ++i) {
            info.deviceId[i] = response.responsePayload(8 + i);
        }
        info.hasDeviceId = true;
    }
    info.bootloaderVersion = versionAt(response, 40);
    info.hardwareVersion = versionAt(response, 44);
    info.compatibility = response.responsePayload(48);
    return info;
}

AppInfo parseAppInfo(const HidResponse& response) {
    requireOk("GET_APP_INFO", response);
    AppInfo info;
    info.valid = response.responsePayload(1) != 0;
    info.hardwareInterface = versionAt(response, 4);
    info.softwareVersion = versionAt(response, 8);
    info.compatibility = response.responsePayload(12);
    return info;
}

BootloaderStatus parseBootloaderStatus(const HidResponse& response) {
    requireOk("GET_STATUS", response);
    BootloaderStatus status;
    status.state = response.responsePayload(0);
    status.active = response.responsePayload(1) != 0;
    status.lastCommand = response.responsePayload(2);
    status.lastStatus = response.responsePayload(3);
    status.expected = response.payloadLe32(8);
    status.received = response.payloadLe32(12);
    return status;
}

EndUpdateResult parseEndUpdateResult(const HidResponse& response) {
    return EndUpdateResult{response.responseStatus(), response.payloadLe32(8)};
}

bool isSupportedBootloader(const BootloaderInfo& info) {
    return info.protocolMajor == 1 && info.protocolMinor >= 1 && info.reportLength == 0x40 &&
           info.payloadCapacity >= 0x38;
}

std::string formatStatusSummary(const BootloaderStatus& status) {
    return "state=" + stateName(status.state) + " active=" + (status.active ? "1" : "0") +
           " last_command=" + formatHexByte(status.lastCommand) +
           " last_status=" + bootloaderStatusName(status.lastStatus) +
           " expected=" + std::to_string(status.expected) +
           " received=" + std::to_string(status.received);
}

void logStatusSummary(RunLog& log, std::string_view prefix, const BootloaderStatus& status) {
    log.writeLine(std::string(prefix) + " " + formatStatusSummary(status));
}

std::string formatVersion(const FirmwareVersion& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.patch) + "." + std::to_string(version.build);
}

std::string formatDeviceId(const std::array<std::uint8_t, 12>& deviceId) {
    std::string text = formatHexBytes(std::span(deviceId).first<5>());
    for (std::size_t i = 5; i < deviceId.size(); ++i) {
        if (deviceId[i] < 32 || deviceId[i] > 126) {
            return {};
        }
        text += static_cast<char>(deviceId[i]);
    }
    return text;
}

}  // namespace velkora
