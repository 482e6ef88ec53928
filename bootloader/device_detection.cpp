#include "bootloader/device_detection.h"

#include <ostream>
#include <stdexcept>
#include <vector>

#include "app/exceptions.h"
#include "bootloader/bootloader_commands.h"

namespace velkora {
namespace {

constexpr std::uint32_t kPollIntervalMs = 100;
constexpr std::uint64_t kManagementInterfaceWaitMs = 15000;
constexpr int kEscape = 27;

// True when the key cancels the wait. Extended keys arrive as a prefix code (0 or 224) and a
// second code; both are swallowed so that, say, an arrow key never reads as a letter.
bool cancelKeyPressed(platform::ConsoleKeys& keys) {
    if (!keys.keyWaiting()) {
        return false;
    }
    const int key = keys.readKey();
    if (key == 0 || key == 224) {
        keys.readKey();
        return false;
    }
    return key == kEscape || key == 'q' || key == 'Q';
}

}  // namespace

HidDeviceInfo waitForBootloader(platform::Services& services, RunLog& log, bool quietCancel) {
    services.out << "The updater is ready. Ensure the phone, vehicle/data, and charger "
                    "connections are disconnected.\n"
                 << "Connect only the charger port, marked with a lightning bolt, to this PC.\n"
                 << "The Velkora LED will be purple while firmware update mode is active.\n\n"
                 << "Waiting for Velkora. Press Q or Esc to cancel.\n"
                 << std::flush;
    bool applicationNoticeLogged = false;
    platform::KeyWatchScope keyWatch(services.keys);
    for (;;) {
        std::vector<HidDeviceInfo> candidates;
        for (HidDeviceInfo& device : enumerateHidDevices(services)) {
            if (!isManagementInterface(device)) {
                candidates.push_back(std::move(device));
            } else if (!applicationNoticeLogged) {
                log.writeLine("application HID present; waiting for bootloader HID");
                applicationNoticeLogged = true;
            }
        }
        if (candidates.size() == 1) {
            services.out << "\nVelkora HID bootloader found. Securing firmware update mode...\n"
                         << std::flush;
            log.writeLine("Velkora HID bootloader detected");
            return candidates.front();
        }
        if (candidates.size() > 1) {
            log.writeLine("multiple Velkora bootloaders found: " +
                          std::to_string(candidates.size()));
            throw std::runtime_error(
                "More than one Velkora bootloader was found. Unplug all but one Velkora and try "
                "again.");
        }
        if (cancelKeyPressed(services.keys)) {
            log.writeLine("wait for Velkora cancelled by user");
            throw UserCancelled(quietCancel);
        }
        services.clock.sleepMs(kPollIntervalMs);
    }
}

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
        services.clock.sleepMs(kPollIntervalMs);
    }
}

ManagementConnection startManagementInterface(platform::Services& services,
                                              HidHandle& bootloaderHandle,
                                              std::uint8_t& bootloaderSequence,
                                              const HidDeviceInfo& bootloaderDevice, RunLog& log,
                                              std::string_view successLine) {
    requireOk(
        "START_APP_USB",
        sendBootloaderCommand(bootloaderHandle, BootloaderCommand::StartAppUsb,
                              takeSequence(bootloaderSequence), bootloader_timeout::kStartAppUsb));
    log.writeLine(successLine);
    // The bootloader goes away as the application starts; its handle is of no further use.
    bootloaderHandle.close();
    ManagementConnection connection;
    connection.device = waitForManagementInterface(services, bootloaderDevice.serial, log);
    connection.handle = openHidDevice(services, connection.device.path);
    return connection;
}

}  // namespace velkora
