#include "management/management_commands.h"

#include <ostream>
#include <stdexcept>

#include "bootloader/bootloader_commands.h"
#include "common/exceptions.h"

namespace velkora {
namespace {

// The header needs bytes 0 to 7 after the report ID; a 65-byte read always holds it.
constexpr std::uint32_t kHeaderBytes = 8;

void sendEmptyCommand(HidHandle& handle, std::uint8_t& sequence, std::uint8_t command,
                      const std::string& name) {
    const std::uint8_t requestSequence = takeSequence(sequence);
    const HidResponse response =
        hidExchange(handle, command, requestSequence, {}, kManagementTimeoutMs);
    checkManagementResponse(response, command, requestSequence, name);
    if (response.payloadLength() != 0) {
        throw std::runtime_error(name + " returned an invalid application response.");
    }
}

}  // namespace

void checkManagementResponse(const HidResponse& response, std::uint8_t command,
                             std::uint8_t sequence, const std::string& name) {
    if (response.length < kHeaderBytes || !response.headerMatches(command, sequence)) {
        throw std::runtime_error(name + " returned an invalid application HID report.");
    }
    if (response.responseStatus() != 0) {
        throw DeviceRefused(name + " failed: " + applicationStatusName(response.responseStatus()));
    }
}

void sendExit(HidHandle& handle, std::uint8_t& sequence, RunLog& log) {
    sendEmptyCommand(handle, sequence, management_command::kExit, "EXIT");
    log.writeLine("application EXIT succeeded");
}

void sendClearFaults(HidHandle& handle, std::uint8_t& sequence, RunLog& log, std::ostream& out) {
    sendEmptyCommand(handle, sequence, management_command::kClearFaults, "CLEAR_FAULTS");
    log.writeLine("CLEAR_FAULTS succeeded");
    out << "Fault log cleared.\n";
}

void exitQuietly(HidHandle& handle, std::uint8_t& sequence, RunLog& log) noexcept {
    try {
        if (handle.valid()) {
            sendExit(handle, sequence, log);
            return;
        }
    } catch (const std::exception&) {
    }
    log.writeLine("application EXIT could not be completed during cleanup");
}

void logManagementInterfacePresence(platform::Services& services, const HidDeviceInfo& expected,
                                    RunLog& log) noexcept {
    try {
        int interfaces = 0;
        bool present = false;
        for (const HidDeviceInfo& device : enumerateHidDevices(services)) {
            if (!isManagementInterface(device)) {
                continue;
            }
            ++interfaces;
            // A re-enumerated interface may come back under a new path; the serial still
            // names the same adapter, when it has one.
            if (device.path == expected.path ||
                (!expected.serial.empty() && device.serial == expected.serial)) {
                present = true;
            }
        }
        log.writeLine(std::string("FAULT_DUMP application HID after failure: expected_device=") +
                      (present ? "present" : "not_present") +
                      " management_interfaces=" + std::to_string(interfaces));
    } catch (const std::exception& error) {
        log.writeLine(std::string("FAULT_DUMP application HID presence check failed: ") +
                      error.what());
    }
}

}  // namespace velkora
