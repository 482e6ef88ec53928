#pragma once

#include <cstdint>
#include <iosfwd>

#include "bootloader/bootloader_records.h"
#include "common/run_log.h"
#include "hid/hid_device.h"
#include "package/update_manifest.h"
#include "platform/services.h"

namespace velkora {

// What an adapter's bootloader says about itself and about the application it holds.
struct DeviceInformation {
    BootloaderInfo boot;
    AppInfo app;
};

// The first requests on a bootloader have the fixed sequence numbers 1 to 3; START_APP takes
// 4, and so does the first request of every later step on the same bootloader.
inline constexpr std::uint8_t kFirstFreeSequence = 4;

// The opening of every session with a bootloader: GET_INFO, GET_APP_INFO and GET_STATUS, 30 ms
// apart, each failing on a non-zero status ("GET_INFO failed: BUSY"). GET_INFO commits the
// adapter to firmware-update mode; that and the device's USB record go to the run log.
DeviceInformation readDeviceInformation(platform::Services& services, HidHandle& handle,
                                        const HidDeviceInfo& device, RunLog& log);

// Prints what was found on the adapter: versions, serial number, installed application.
void showDeviceInformation(std::ostream& out, const DeviceInformation& info);

// Writes the same findings to the run log, with the protocol and compatibility values.
void logDeviceInformation(RunLog& log, const DeviceInformation& info);

// Fails with "Unsupported Velkora HID bootloader protocol." unless the updater speaks it.
void requireSupportedBootloader(const BootloaderInfo& boot);

// Fails with "This update firmware is not compatible with the connected Velkora. ..." when
// the package is made for adapters of another compatibility value.
void requireCompatiblePackage(const BootloaderInfo& boot, const UpdateManifest& manifest);

// "Firmware update versions:", the installed version ("From:") and the package's ("To:").
void showUpdateVersions(std::ostream& out, const AppInfo& app, const UpdateManifest& manifest);

// "Starting device..." and START_APP (sequence 4): the application starts and the bootloader
// leaves the bus. Fails on a non-zero status ("START_APP failed: NOT_ACTIVE").
void startApplication(platform::Services& services, HidHandle& handle, RunLog& log);

}  // namespace velkora
