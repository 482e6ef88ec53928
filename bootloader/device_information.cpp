#include "bootloader/device_information.h"

#include <ostream>
#include <stdexcept>
#include <string>

#include "bootloader/bootloader_commands.h"
#include "common/text.h"

namespace velkora {
namespace {

constexpr std::uint32_t kPauseBetweenRequestsMs = 30;
constexpr std::uint8_t kGetInfoSequence = 1;
constexpr std::uint8_t kGetAppInfoSequence = 2;
constexpr std::uint8_t kGetStatusSequence = 3;

}  // namespace

DeviceInformation readDeviceInformation(platform::Services& services, HidHandle& handle,
                                        const HidDeviceInfo& device, RunLog& log) {
    DeviceInformation info;
    info.boot = parseBootloaderInfo(hidExchange(
        handle, bootloader_command::kGetInfo, kGetInfoSequence, {}, bootloader_timeout::kGetInfo));
    log.writeLine("GET_INFO succeeded; firmware update mode committed");
    log.writeLine("device path=" + platform::toUtf8(device.path));
    log.writeLine("device manufacturer=" + device.manufacturer);
    log.writeLine("device product=" + device.product);
    log.writeLine("device serial=" + device.serial);

    services.out << "\nReading device information...\n";
    services.clock.sleepMs(kPauseBetweenRequestsMs);
    info.app = parseAppInfo(hidExchange(handle, bootloader_command::kGetAppInfo,
                                        kGetAppInfoSequence, {}, bootloader_timeout::kGetAppInfo));
    services.clock.sleepMs(kPauseBetweenRequestsMs);
    requireOk("GET_STATUS", hidExchange(handle, bootloader_command::kGetStatus, kGetStatusSequence,
                                        {}, bootloader_timeout::kGetStatus));
    return info;
}

void showDeviceInformation(std::ostream& out, const DeviceInformation& info) {
    const BootloaderInfo& boot = info.boot;
    const AppInfo& app = info.app;
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

void logDeviceInformation(RunLog& log, const DeviceInformation& info) {
    const BootloaderInfo& boot = info.boot;
    const AppInfo& app = info.app;
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

void requireSupportedBootloader(const BootloaderInfo& boot) {
    if (!isSupportedBootloader(boot)) {
        throw std::runtime_error("Unsupported Velkora HID bootloader protocol.");
    }
}

// Only the bootloader's value counts: the installed application's may be the very thing the
// update is to correct.
void requireCompatiblePackage(const BootloaderInfo& boot, const UpdateManifest& manifest) {
    if (manifest.package_compatibility != boot.compatibility) {
        throw std::runtime_error(
            "This update firmware is not compatible with the connected Velkora. Device "
            "compatibility " +
            formatHexByte(boot.compatibility) + ", firmware compatibility " +
            formatHexByte(manifest.package_compatibility) + ".");
    }
}

void showUpdateVersions(std::ostream& out, const AppInfo& app, const UpdateManifest& manifest) {
    out << "Firmware update versions:\n"
        << "From: " << (app.valid ? formatVersion(app.softwareVersion) : "not installed") << "\n"
        << "To:   " << manifest.firmware_version << "\n\n";
}

void startApplication(platform::Services& services, HidHandle& handle, RunLog& log) {
    services.out << "Starting device...\n" << std::flush;
    requireOk("START_APP", hidExchange(handle, bootloader_command::kStartApp, kFirstFreeSequence,
                                       {}, bootloader_timeout::kStartApp));
    log.writeLine("START_APP succeeded after user selected Start device");
}

}  // namespace velkora
