#include "bootloader/device_detection.h"

#include <ostream>
#include <stdexcept>
#include <vector>

#include "common/exceptions.h"

namespace velkora {
namespace {

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
        services.clock.sleepMs(kDevicePollIntervalMs);
    }
}

}  // namespace velkora
