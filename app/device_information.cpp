#include "app/device_information.h"

#include <ostream>
#include <string>

#include "common/text.h"

namespace velkora {

void showDeviceInformation(std::ostream& out, const BootloaderInfo& boot, const AppInfo& app) {
    out << "Bootloader version: " << formatVersion(boot.bootloaderVersion) << "\n";
    out << "Device hardware version: " << formatVersion(boot.hardwareVersion) << "\n";
    // Bootloaders older than protocol 1.2 do not report a device ID at all.
    if (boot.hasDeviceId) {
        const std::string serial = formatDeviceId(boot.deviceId);
        out << "Serial Number: " << (serial.empty() ? "not available" : serial) << "\n";
    }
    if (app.valid) {
        out << "Current application version: " << formatVersion(app.softwareVersion) << "\n";
        out << "Current application HWIF: " << formatVersion(app.hardwareInterface) << "\n";
    } else {
        out << "Current application version: not installed or not valid\n";
    }
    out << "\n";
}

void logDeviceInformation(RunLog& log, const BootloaderInfo& boot, const AppInfo& app) {
    log.writeLine("boot protocol=" + std::to_string(boot.protocolMajor) + "." +
                  std::to_string(boot.protocolMinor));
    log.writeLine("boot version=" + formatVersion(boot.bootloaderVersion));
    log.writeLine("boot hardware_version=" + formatVersion(boot.hardwareVersion));
    log.writeLine("boot compatibility=" + formatHexByte(boot.compatibility));
    log.writeLine(std::string("app valid=") + (app.valid ? "yes" : "no"));
    if (app.valid) {
        log.writeLine("app swver=" + formatVersion(app.softwareVersion));
        log.writeLine("app hwif=" + formatVersion(app.hardwareInterface));
        log.writeLine("app compatibility=" + formatHexByte(app.compatibility));
    }
}

}  // namespace velkora
