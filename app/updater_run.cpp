#include "app/updater_run.h"

#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

#include "app/device_information.h"
#include "bootloader/bootloader_commands.h"
#include "bootloader/bootloader_records.h"
#include "bootloader/device_detection.h"
#include "bootloader/firmware_transfer.h"
#include "common/console.h"
#include "common/exceptions.h"
#include "common/run_log.h"
#include "common/text.h"
#include "config/config_mode.h"
#include "hid/hid_device.h"
#include "management/fault_log_mode.h"
#include "package/firmware_package.h"

namespace velkora {
namespace {

// The project's version, set once in the top CMakeLists.txt; the version resource of the
// Windows program and the release packages' names carry the same.
constexpr const char* kUpdaterVersion = VELKORA_UPDATER_VERSION;
constexpr std::uint32_t kPauseBetweenRequestsMs = 30;

// The first requests of a run have fixed sequence numbers; the counter handed on starts at 4.
constexpr std::uint8_t kGetInfoSequence = 1;
constexpr std::uint8_t kGetAppInfoSequence = 2;
constexpr std::uint8_t kGetStatusSequence = 3;
constexpr std::uint8_t kStartAppSequence = 4;

// Everything one run owns, in the order it comes into being. The bootloader handle closes
// when the run's state goes away, whichever way the run ends.
struct RunState {
    RunState(platform::Services& services_, bool serviceMode_, RunLog log_)
        : services(services_), serviceMode(serviceMode_), log(std::move(log_)) {}

    platform::Services& services;
    bool serviceMode;
    RunLog log;
    std::optional<FirmwarePackage> package;
    HidDeviceInfo bootloader;
    HidHandle handle;
    std::uint8_t sequence = 0;
    BootloaderInfo bootInfo;
    AppInfo appInfo;
};

void printPackageSummary(std::ostream& out, const std::optional<FirmwarePackage>& package) {
    if (package) {
        out << "Update firmware version: " << package->manifest.firmware_version << "\n"
            << "Firmware file: " << package->manifest.sfb_file << "\n"
            << "Update firmware SHA-256 verified.\n\n";
    } else {
        out << "No update firmware was found. Firmware update is unavailable.\n\n";
    }
}

void readDeviceInformation(RunState& run) {
    platform::Clock& clock = run.services.clock;
    run.bootInfo =
        parseBootloaderInfo(hidExchange(run.handle, bootloader_command::kGetInfo, kGetInfoSequence,
                                        {}, bootloader_timeout::kGetInfo));
    run.log.writeLine("GET_INFO succeeded; firmware update mode committed");
    run.log.writeLine("device path=" + platform::toUtf8(run.bootloader.path));
    run.log.writeLine("device manufacturer=" + run.bootloader.manufacturer);
    run.log.writeLine("device product=" + run.bootloader.product);
    run.log.writeLine("device serial=" + run.bootloader.serial);

    run.services.out << "\nReading device information...\n";
    clock.sleepMs(kPauseBetweenRequestsMs);
    run.appInfo =
        parseAppInfo(hidExchange(run.handle, bootloader_command::kGetAppInfo, kGetAppInfoSequence,
                                 {}, bootloader_timeout::kGetAppInfo));
    clock.sleepMs(kPauseBetweenRequestsMs);
    run.sequence = kStartAppSequence;
    requireOk("GET_STATUS", hidExchange(run.handle, bootloader_command::kGetStatus,
                                        kGetStatusSequence, {}, bootloader_timeout::kGetStatus));
}

// The protocol check comes after the findings were shown and logged, so that an unsupported
// adapter is still described in full.
void checkDeviceAndPackage(RunState& run) {
    if (!isSupportedBootloader(run.bootInfo)) {
        throw std::runtime_error("Unsupported Velkora HID bootloader protocol.");
    }
    if (!run.package) {
        return;
    }
    const std::uint8_t firmware = run.package->manifest.package_compatibility;
    if (firmware != run.bootInfo.compatibility) {
        throw std::runtime_error(
            "This update firmware is not compatible with the connected Velkora. Device "
            "compatibility " +
            formatHexByte(run.bootInfo.compatibility) + ", firmware compatibility " +
            formatHexByte(firmware) + ".");
    }
    run.services.out << "Firmware update versions:\n"
                     << "From: "
                     << (run.appInfo.valid ? formatVersion(run.appInfo.softwareVersion)
                                           : std::string("not installed"))
                     << "\n"
                     << "To:   " << run.package->manifest.firmware_version << "\n\n";
}

void updateFirmware(RunState& run) {
    platform::Clock& clock = run.services.clock;
    const std::uint64_t start = clock.tickCount64();
    run.log.writeLine("transfer start");
    const TransferTarget target{run.bootInfo.protocolMinor, run.bootInfo.compatibility,
                                run.package->manifest.package_compatibility};
    transferFirmware(run.services, run.handle, run.package->image, target, run.sequence, run.log);
    const std::uint64_t seconds = (clock.tickCount64() - start) / 1000u;
    run.log.writeLine("transfer complete seconds=" + std::to_string(seconds) +
                      " bytes=" + std::to_string(run.package->image.size()));
    run.services.out << "Installing and verifying...\n";

    ConsoleIo console{run.services.in, run.services.out};
    if (askRestartAfterUpdate(console)) {
        run.log.writeLine("user selected restart after update complete");
        throw RestartRequested();
    }
    run.log.writeLine("user closed updater after update complete");
}

void startDevice(RunState& run) {
    run.services.out << "Starting device...\n" << std::flush;
    requireOk("START_APP", hidExchange(run.handle, bootloader_command::kStartApp, kStartAppSequence,
                                       {}, bootloader_timeout::kStartApp));
    run.log.writeLine("START_APP succeeded after user selected Start device");
}

// Whatever ends the configuration editor early is reported under its own heading.
void configureDevice(RunState& run) {
    try {
        runConfigurationMode(run.services, run.handle, run.sequence, run.bootloader, run.log);
    } catch (const std::exception& failure) {
        throw ConfigurationFailure(failure.what());
    }
}

// Acts on the user's menu choices until one of them ends the run.
void offerMainMenu(RunState& run) {
    ConsoleIo console{run.services.in, run.services.out};
    for (;;) {
        switch (showMainMenu(console, run.appInfo.valid)) {
            case 1:
                if (!run.package) {
                    run.services.out << "Firmware update is unavailable because no update firmware "
                                        "was found.\n\n";
                    continue;
                }
                updateFirmware(run);
                return;
            case 2:
                runFaultLogMode(run.services, run.handle, run.sequence, run.bootloader, run.log,
                                run.serviceMode);
                run.services.out << "Returning to adapter detection...\n\n";
                run.log.writeLine("fault-log operation complete; restarting adapter detection");
                throw RestartRequested();
            case 3:
                startDevice(run);
                return;
            case 4:
                run.services.out << "Leaving the Velkora in bootloader mode.\n";
                run.log.writeLine("user exited and left Velkora in bootloader mode");
                return;
            case 5:
                run.services.out << "Restarting updater...\n\n";
                run.log.writeLine("user selected Restart updater");
                throw RestartRequested();
            default:
                configureDevice(run);
                run.services.out << "Returning to adapter detection...\n\n";
                run.log.writeLine("configuration operation complete; restarting adapter detection");
                throw RestartRequested();
        }
    }
}

}  // namespace

void runUpdater(platform::Services& services, bool serviceMode) {
    std::ostream& out = services.out;
    out << (serviceMode ? "Velkora Firmware Updater [SERVICE MODE]\n"
                        : "Velkora Firmware Updater\n");
    out << "Updater version: " << kUpdaterVersion << "\n\n";

    const std::filesystem::path programFolder = services.host.programFolder();
    RunState run(services, serviceMode, openRunLog(programFolder, services.clock));
    run.log.writeLine(std::string("Velkora Firmware Updater ") + kUpdaterVersion);
    run.log.writeLine(services.host.osVersionLine());
    if (serviceMode) {
        run.log.writeLine("service mode enabled");
    }

    out << "Checking update firmware...\n";
    run.package = loadFirmwarePackage(programFolder, run.log);
    printPackageSummary(out, run.package);

    run.bootloader = waitForBootloader(services, run.log, !run.package.has_value());
    run.handle = openHidDevice(services, run.bootloader.path);
    readDeviceInformation(run);
    showDeviceInformation(out, run.bootInfo, run.appInfo);
    logDeviceInformation(run.log, run.bootInfo, run.appInfo);
    checkDeviceAndPackage(run);

    // An adapter without a working application gets the update at once: there is nothing
    // else it could do.
    if (!run.appInfo.valid && run.package) {
        updateFirmware(run);
        return;
    }
    offerMainMenu(run);
}

}  // namespace velkora
