#include "management/management_handover.h"

#include <ostream>
#include <stdexcept>
#include <vector>

#include "bootloader/bootloader_commands.h"
#include "bootloader/device_detection.h"

namespace velkora {
namespace {

constexpr std::uint64_t kManagementInterfaceWaitMs = 15000;

}  // namespace

HidDeviceInfo waitForManagementInterface(platform::Services& services,
                                         const std::string& expectedSerial, RunLog& log) {
    services.out << "Starting device and waiting for its management interface...\n" << std::flush;
    const std::uint64_t deadline = services.clock.tickCount64() + kManagementInterfaceWaitMs;
    for (;;) {
        std::vector<HidDeviceInfo> matches;
        for (HidDeviceInfo& device : enumerateHidDevices(services)) {
            if (isManagementInterface(device) &&
                (expectedSerial.empty() || device.serial == expectedSerial)) {
                matches.push_back(std::move(device));
            }
        }
        if (matches.size() == 1) {
            log.writeLine("Velkora management interface detected");
            return matches.front();
        }
        if (matches.size() > 1) {
            throw std::runtime_error(
                "More than one Velkora management interface was found. Unplug all but one "
                "Velkora and try again.");
        }
        if (services.clock.tickCount64() >= deadline) {
            throw std::runtime_error("Timed out waiting for the Velkora management interface.");
        }
        services.clock.sleepMs(kDevicePollIntervalMs);
    }
}

ManagementConnection startManagementInterface(platform::Services& services,
                                              HidHandle& bootloaderHandle,
                                              std::uint8_t& bootloaderSequence,
                                              const HidDeviceInfo& bootloaderDevice, RunLog& log,
                                              std::string_view successLine) {
    requireOk("START_APP_USB",
              hidExchange(bootloaderHandle, bootloader_command::kStartAppUsb,
                          takeSequence(bootloaderSequence), {}, bootloader_timeout::kStartAppUsb));
    log.writeLine(successLine);
    // The bootloader goes away as the application starts; its handle is of no further use.
    bootloaderHandle.close();
    ManagementConnection connection;
    connection.device = waitForManagementInterface(services, bootloaderDevice.serial, log);
    connection.handle = openHidDevice(services, connection.device.path);
    return connection;
}

}  // namespace velkora
