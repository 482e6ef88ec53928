#include "config/config_protocol.h"

#include <stdexcept>

#include "bootloader/bootloader_commands.h"
#include "common/exceptions.h"
#include "common/text.h"

namespace velkora {
namespace {

constexpr std::size_t kApplicationInfoLength = 15;
constexpr std::array<std::uint8_t, 6> kExpectedIdentity{'A', 'P', 'P', '1', 0x00, 0x01};
constexpr std::uint8_t kWireFormat = 1;

bool hasReportSize(const HidResponse& response) {
    return response.length == kReportSize || response.length == kReportSize - 1;
}

void requireConfigOk(std::uint8_t status, const std::string& label) {
    if (status != 0) {
        throw DeviceRefused(label + " failed: " + configStatusName(status));
    }
}

// Sends a command whose answer carries no payload and returns the answer's status.
std::uint8_t sendPlainCommand(HidHandle& handle, std::uint8_t& sequence, std::uint8_t command,
                              std::span<const std::uint8_t> payload = {}) {
    const std::uint8_t requestSequence = takeSequence(sequence);
    const HidResponse response =
        hidExchange(handle, command, requestSequence, payload, kConfigTimeoutMs);
    return checkConfigResponse(response, command, requestSequence, 0);
}

}  // namespace

std::string configStatusName(std::uint8_t status) {
    // The configuration commands share the application's names up to FAILED and give 7 and 8
    // meanings of their own; the bootloader's names for 9 and above do not apply.
    switch (status) {
        case kConfigStatusBadItem:
            return "BAD_ITEM";
        case kConfigStatusBadValue:
            return "BAD_VALUE";
        default:
            return status <= kConfigStatusFailed ? applicationStatusName(status)
                                                 : "STATUS_" + formatHexByte(status);
    }
}

std::uint8_t checkConfigResponse(const HidResponse& response, std::uint8_t command,
                                 std::uint8_t sequence, std::size_t expectedPayloadLength) {
    if (response.length == kReportSize && response.data[0] != kReportId) {
        throw std::runtime_error("Configuration command returned an invalid HID report ID.");
    }
    if (!hasReportSize(response)) {
        throw std::runtime_error("Configuration command returned an invalid HID report size.");
    }
    if (!response.headerMatches(command, sequence)) {
        throw std::runtime_error(
            "Configuration command returned an invalid application HID response.");
    }
    const std::uint8_t status = response.responseStatus();
    const std::size_t payloadLength = response.payloadLength();
    if (payloadLength > kMaxPayload ||
        payloadLength != (status == 0 ? expectedPayloadLength : 0u)) {
        throw std::runtime_error(
            "Configuration command returned an invalid response payload length.");
    }
    return status;
}

void readApplicationIdentity(HidHandle& handle) {
    constexpr std::uint8_t kSequence = 1;
    const HidResponse response =
        hidExchange(handle, config_command::kGetInfo, kSequence, {}, kConfigTimeoutMs);
    requireConfigOk(
        checkConfigResponse(response, config_command::kGetInfo, kSequence, kApplicationInfoLength),
        "Application GET_INFO");
    for (std::size_t i = 0; i < kExpectedIdentity.size(); ++i) {
        if (response.responsePayload(i) != kExpectedIdentity[i]) {
            throw std::runtime_error(
                "Unsupported application identity or configuration wire format.");
        }
    }
}

ConfigSnapshot readConfigSnapshot(HidHandle& handle, std::uint8_t& sequence) {
    const std::uint8_t requestSequence = takeSequence(sequence);
    const HidResponse response =
        hidExchange(handle, config_command::kGetConfig, requestSequence, {}, kConfigTimeoutMs);
    if (!hasReportSize(response)) {
        throw std::runtime_error("GET_CONFIG returned an invalid HID report size.");
    }
    // The answer's own length byte is the expected length: any length up to 56 passes here
    // and is judged against the item count below.
    requireConfigOk(checkConfigResponse(response, config_command::kGetConfig, requestSequence,
                                        response.payloadLength()),
                    "GET_CONFIG");
    const std::size_t payloadLength = response.payloadLength();
    if (payloadLength < 2 || response.responsePayload(0) != kWireFormat) {
        throw std::runtime_error("GET_CONFIG returned an unsupported configuration wire format.");
    }
    const std::size_t count = response.responsePayload(1);
    if (count > kConfigItemCount || payloadLength != 2 + 2 * count) {
        throw std::runtime_error("GET_CONFIG returned an invalid item count or payload length.");
    }
    ConfigSnapshot snapshot{};
    for (std::size_t pair = 0; pair < count; ++pair) {
        const std::uint8_t id = response.responsePayload(2 + 2 * pair);
        const std::uint8_t value = response.responsePayload(3 + 2 * pair);
        if (id < 1 || id > kConfigItemCount || snapshot[id - 1u].has_value()) {
            throw std::runtime_error("GET_CONFIG returned an unknown or duplicate item ID.");
        }
        if (value >= configItem(id).valueCount) {
            throw std::runtime_error("GET_CONFIG returned an invalid item value.");
        }
        snapshot[id - 1u] = value;
    }
    return snapshot;
}

void setConfigItem(HidHandle& handle, std::uint8_t& sequence, std::uint8_t itemId,
                   std::uint8_t valueIndex) {
    const std::array<std::uint8_t, 2> payload{itemId, valueIndex};
    requireConfigOk(sendPlainCommand(handle, sequence, config_command::kSetConfigItem, payload),
                    "SET_CONFIG_ITEM");
}

void resetConfig(HidHandle& handle, std::uint8_t& sequence) {
    requireConfigOk(sendPlainCommand(handle, sequence, config_command::kResetConfig),
                    "RESET_CONFIG");
}

std::uint8_t storeConfig(HidHandle& handle, std::uint8_t& sequence) {
    return sendPlainCommand(handle, sequence, config_command::kStoreConfig);
}

}  // namespace velkora
