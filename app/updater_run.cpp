#include "app/updater_run.h"

#include <optional>
#include <ostream>
#include <string>

#include "bootloader/device_detection.h"
#include "bootloader/device_information.h"
#include "bootloader/firmware_transfer.h"
#include "common/console.h"
#include "common/exceptions.h"
#include "common/run_log.h"
#include "config/config_mode.h"
#include "hid/hid_device.h"
#include "management/fault_log_mode.h"
#include "package/firmware_package.h"

namespace velkora {
namespace {

// The project's version, set once in the top CMakeLists.txt; the version resource of the
// Windows program and the release packages' names carry the same.
constexpr const char* kUpdaterVersion = VELKORA_UPDATER_VERSION;

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
    DeviceInformation device;
};

void updateFirmware(RunState& run) {
    installFirmware(run.services, run.handle, *run.package, run.device.boot, run.sequence, run.log);
    ConsoleIo console{run.services.in, run.services.out};
    if (askRestartAfterUpdate(console)) {
        run.log.writeLine("user selected restart after update complete");
        throw RestartRequested();
    }
    run.log.writeLine("user closed updater after update complete");
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
        switch (showMainMenu(console, run.device.app.valid)) {
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
                startApplication(run.services, run.handle, run.log);
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
    run.device = readDeviceInformation(services, run.handle, run.bootloader, run.log);
    run.sequence = kFirstFreeSequence;
    showDeviceInformation(out, run.device);
    logDeviceInformation(run.log, run.device);
    // The protocol check comes after the findings were shown and logged, so that an
    // unsupported adapter is still described in full.
    requireSupportedBootloader(run.device.boot);
    if (run.package) {
        requireCompatiblePackage(run.device.boot, run.package->manifest);
        showUpdateVersions(out, run.device.app, run.package->manifest);
    }

    // An adapter without a working application gets the update at once: there is nothing
    // else it could do.
    if (!run.device.app.valid && run.package) {
        updateFirmware(run);
        return;
    }
    offerMainMenu(run);
}

}  // namespace velkora
