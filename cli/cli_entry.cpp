#include "cli/cli_entry.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "bootloader/device_detection.h"
#include "bootloader/device_information.h"
#include "bootloader/firmware_transfer.h"
#include "cli/cli_arguments.h"
#include "cli/json.h"
#include "common/exceptions.h"
#include "common/run_log.h"
#include "common/text.h"
#include "config/config_session.h"
#include "config/config_view.h"
#include "management/fault_log_mode.h"
#include "management/management_commands.h"
#include "package/firmware_package.h"
#include "platform/new_file.h"

namespace velkora::cli {
namespace {

// The project's version, set once in the top CMakeLists.txt.
constexpr const char* kVersion = VELKORA_VERSION;
// An adapter that stored its configuration restarts into its bootloader; it is given as long
// as the updater gives its management interface to appear.
constexpr std::uint32_t kRestartWaitMs = 15000;

// No adapter to serve, or more than one that could be meant.
class AdapterChoiceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

int exitCodeOf(const std::exception& failure) {
    if (dynamic_cast<const AdapterChoiceError*>(&failure) != nullptr) {
        return exit_code::kNoAdapter;
    }
    if (dynamic_cast<const DeviceRefused*>(&failure) != nullptr) {
        return exit_code::kRefused;
    }
    return exit_code::kFailed;
}

// Swallows what is written to it.
class NullBuffer : public std::streambuf {
    int overflow(int c) override { return traits_type::not_eof(c); }
};

// The layers' console text under --json: each new percentage of the transfer becomes the line
// {"progress":N} on the output; everything else is left out.
class ProgressLines : public std::streambuf {
  public:
    explicit ProgressLines(std::ostream& out) : out_(out) {}

  private:
    int overflow(int c) override {
        if (c == '\r' || c == '\n') {
            const std::string prefix = std::string(kTransferLabel) + ":";
            if (segment_.starts_with(prefix)) {
                const int percentage = std::stoi(segment_.substr(prefix.size()));
                if (percentage != shown_) {
                    out_ << "{\"progress\":" << percentage << "}\n" << std::flush;
                    shown_ = percentage;
                }
            }
            segment_.clear();
        } else {
            segment_ += static_cast<char>(c);
        }
        return traits_type::not_eof(c);
    }

    std::ostream& out_;
    std::string segment_;
    std::optional<int> shown_;
};

// One command's surroundings: the layers' services (their console text is progress), the run
// log, the request, and the result as JSON members and as text.
struct Command {
    platform::Services& services;
    RunLog& log;
    const CliRequest& request;
    JsonObject& json;
    std::ostream& text;
};

std::string identityOf(const HidDeviceInfo& device) {
    return isManagementInterface(device) ? "management" : "bootloader";
}

std::string interfaceJson(const HidDeviceInfo& device) {
    return JsonObject()
        .text("identity", identityOf(device))
        .text("serial", device.serial)
        .text("manufacturer", device.manufacturer)
        .text("product", device.product)
        .text("path", platform::toUtf8(device.path))
        .str();
}

void listInterfaces(platform::Services& services, JsonObject& json, std::ostream& text) {
    std::vector<std::string> interfaces;
    for (const HidDeviceInfo& device : enumerateHidDevices(services)) {
        interfaces.push_back(interfaceJson(device));
        text << identityOf(device) << '\t' << device.serial << '\t' << platform::toUtf8(device.path)
             << '\n';
    }
    json.raw("interfaces", jsonArray(interfaces));
}

// Polls until exactly one bootloader with the serial number asked for (any, when none is) is
// present, or the wait is over. As in the updater, more than one is refused at once. An
// adapter without a serial number is served only when it is the only Velkora interface
// listed: its management interface could not be told from another adapter's.
HidDeviceInfo findBootloader(Command& c, const std::string& serial, std::uint64_t waitMs) {
    const std::uint64_t deadline = c.services.clock.tickCount64() + waitMs;
    bool applicationNoticeLogged = false;
    for (;;) {
        const std::vector<HidDeviceInfo> devices = enumerateHidDevices(c.services);
        std::vector<HidDeviceInfo> candidates;
        for (const HidDeviceInfo& device : devices) {
            if (isManagementInterface(device)) {
                if (!applicationNoticeLogged) {
                    c.log.writeLine("application HID present; waiting for bootloader HID");
                    applicationNoticeLogged = true;
                }
            } else if (serial.empty() || device.serial == serial) {
                candidates.push_back(device);
            }
        }
        if (candidates.size() > 1) {
            c.log.writeLine("multiple Velkora bootloaders found: " +
                            std::to_string(candidates.size()));
            throw AdapterChoiceError(
                "More than one Velkora bootloader was found. Unplug all but one Velkora and try "
                "again.");
        }
        if (candidates.size() == 1) {
            if (candidates.front().serial.empty() && devices.size() > 1) {
                throw AdapterChoiceError(
                    "This Velkora has no USB serial number; it is served only when it is the "
                    "only Velkora connected.");
            }
            c.log.writeLine("Velkora HID bootloader detected");
            return candidates.front();
        }
        if (c.services.clock.tickCount64() >= deadline) {
            throw AdapterChoiceError(serial.empty() ? "No Velkora bootloader was found."
                                                    : "No Velkora bootloader with serial number " +
                                                          serial + " was found.");
        }
        c.services.clock.sleepMs(kDevicePollIntervalMs);
    }
}

// An adapter's bootloader, open, read and checked.
struct Bootloader {
    HidDeviceInfo device;
    HidHandle handle;
    DeviceInformation info;
    std::uint8_t sequence = kFirstFreeSequence;
};

// After an install or START_APP the adapter leaves the bus, a moment after its answer. The
// command ends only once its bootloader is no longer listed (or a few seconds have passed), so
// that a script's next command cannot find it still listed and then fail to open it.
void awaitDeparture(Command& c, Bootloader& bootloader) {
    constexpr std::uint64_t kDepartureWaitMs = 5000;
    bootloader.handle.close();
    const std::uint64_t deadline = c.services.clock.tickCount64() + kDepartureWaitMs;
    for (;;) {
        const std::vector<HidDeviceInfo> devices = enumerateHidDevices(c.services);
        if (std::none_of(devices.begin(), devices.end(), [&](const HidDeviceInfo& device) {
                return device.path == bootloader.device.path;
            })) {
            c.log.writeLine("bootloader HID left the bus");
            return;
        }
        if (c.services.clock.tickCount64() >= deadline) {
            c.log.writeLine("bootloader HID still listed after " +
                            std::to_string(kDepartureWaitMs) + " ms");
            return;
        }
        c.services.clock.sleepMs(kDevicePollIntervalMs);
    }
}

Bootloader openBootloader(Command& c, const std::string& serial, std::uint64_t waitMs) {
    Bootloader bootloader;
    bootloader.device = findBootloader(c, serial, waitMs);
    bootloader.handle = openHidDevice(c.services, bootloader.device.path);
    bootloader.info =
        readDeviceInformation(c.services, bootloader.handle, bootloader.device, c.log);
    logDeviceInformation(c.log, bootloader.info);
    return bootloader;
}

// The adapter the command line picks, described in the result; the protocol check comes after
// that, so that an unsupported adapter is still described in full.
Bootloader openChosenBootloader(Command& c) {
    Bootloader bootloader =
        openBootloader(c, c.request.serial.value_or(""), c.request.waitSeconds * 1000ull);
    const BootloaderInfo& boot = bootloader.info.boot;
    const AppInfo& app = bootloader.info.app;
    JsonObject bootJson;
    bootJson
        .text("protocol",
              std::to_string(boot.protocolMajor) + "." + std::to_string(boot.protocolMinor))
        .text("version", formatVersion(boot.bootloaderVersion))
        .text("hardware_version", formatVersion(boot.hardwareVersion))
        .text("compatibility", formatHexByte(boot.compatibility))
        .raw("device_id", boot.hasDeviceId ? jsonString(formatDeviceId(boot.deviceId)) : "null");
    JsonObject appJson;
    appJson.flag("valid", app.valid);
    if (app.valid) {
        appJson.text("version", formatVersion(app.softwareVersion))
            .text("hwif", formatVersion(app.hardwareInterface))
            .text("compatibility", formatHexByte(app.compatibility));
    }
    c.json.raw("adapter", interfaceJson(bootloader.device))
        .raw("bootloader", bootJson.str())
        .raw("application", appJson.str());
    if (c.request.command == "info") {
        showDeviceInformation(c.text, bootloader.info);
        c.text << "Bootloader protocol: " << static_cast<int>(boot.protocolMajor) << "."
               << static_cast<int>(boot.protocolMinor) << "\n"
               << "Device compatibility: " << formatHexByte(boot.compatibility) << "\n";
    }
    requireSupportedBootloader(boot);
    return bootloader;
}

void update(Command& c) {
    const std::optional<FirmwarePackage> package =
        c.request.package ? loadFirmwarePackageFolder(platform::fromUtf8(*c.request.package), c.log)
                          : loadFirmwarePackage(c.services.host.programFolder(), c.log);
    if (!package) {
        throw std::runtime_error("No update firmware was found. Firmware update is unavailable.");
    }
    printPackageSummary(c.text, package);
    c.json.raw("package",
               JsonObject()
                   .text("firmware_version", package->manifest.firmware_version)
                   .text("sfb_file", package->manifest.sfb_file)
                   .text("compatibility", formatHexByte(package->manifest.package_compatibility))
                   .str());
    Bootloader bootloader = openChosenBootloader(c);
    requireCompatiblePackage(bootloader.info.boot, package->manifest);
    showUpdateVersions(c.text, bootloader.info.app, package->manifest);
    installFirmware(c.services, bootloader.handle, *package, bootloader.info.boot,
                    bootloader.sequence, c.log);
    c.text << "Update complete.\n";
    awaitDeparture(c, bootloader);
}

// A copy of the fault log where the command line asks for one; an existing file is never
// replaced.
void saveCopy(const std::string& file, const std::string& text) {
    const platform::NewFileResult result = platform::writeNewFile(platform::fromUtf8(file), text);
    if (result != platform::NewFileResult::Written) {
        throw std::runtime_error(
            "Unable to save the fault log to " + file +
            (result == platform::NewFileResult::NameTaken ? ": the file exists already." : "."));
    }
}

void faultLog(Command& c, bool clear) {
    Bootloader bootloader = openChosenBootloader(c);
    readFaultLog(
        c.services, bootloader.handle, bootloader.sequence, bootloader.device, c.log,
        [&c, clear](const FaultLog& faultLog, HidHandle& management, std::uint8_t& sequence) {
            if (c.request.save) {
                saveCopy(*c.request.save, faultLog.text);
            }
            std::vector<std::string> faults;
            for (const FaultDisplay& display : faultLog.displays) {
                JsonObject fault;
                fault.raw("index", std::to_string(display.index)).text("title", display.title);
                if (display.hasX) {
                    fault.raw("x", std::to_string(display.x));
                }
                std::vector<std::string> lines;
                for (const std::string& line : display.lines) {
                    lines.push_back(jsonString(line));
                }
                faults.push_back(fault.raw("values", jsonArray(lines)).str());
            }
            c.json.raw("faults", jsonArray(faults))
                .text("saved_to", platform::toUtf8(faultLog.saved.native()));
            c.text << faultLog.text;
            // The log was saved whole before anything is erased.
            if (clear) {
                sendClearFaults(management, sequence, c.log, c.text);
            }
        });
}

std::string itemsJson(const ConfigSnapshot& snapshot) {
    std::vector<std::string> items;
    for (const ConfigItemInfo& item : kConfigItems) {
        if (const auto value = snapshot[item.id - 1u]; value) {
            items.push_back(JsonObject()
                                .raw("id", std::to_string(item.id))
                                .text("name", item.name)
                                .raw("value", std::to_string(*value))
                                .text("value_name", item.valueNames[*value])
                                .str());
        }
    }
    return jsonArray(items);
}

void showItems(std::ostream& out, const ConfigSnapshot& snapshot) {
    for (const ConfigItemInfo& item : kConfigItems) {
        if (const auto value = snapshot[item.id - 1u]; value) {
            out << static_cast<int>(item.id) << ". " << item.name << ": " << item.valueNames[*value]
                << "\n";
        }
    }
}

// One configuration session on the bootloader's adapter; `work` runs under the session's
// guard, which leaves the management interface on every way out.
template <typename Work>
void withConfigSession(Command& c, Bootloader& bootloader, const Work& work) {
    ManagementConnection management = startManagementInterface(
        c.services, bootloader.handle, bootloader.sequence, bootloader.device, c.log,
        "START_APP_USB succeeded for configuration");
    ConfigSession session(management, c.log);
    session.run([&session, &work] {
        session.open();
        work(session);
    });
}

void configure(Command& c) {
    const std::string& command = c.request.command;
    Bootloader bootloader = openChosenBootloader(c);
    ConfigSnapshot stored;
    ConfigSnapshot staged;
    withConfigSession(c, bootloader, [&](ConfigSession& session) {
        for (const auto& [id, value] : c.request.changes) {
            if (!session.staged()[id - 1u]) {
                throw DeviceRefused(
                    "That item is not available: " + std::string(configItem(id).name) + ".");
            }
        }
        for (const auto& [id, value] : c.request.changes) {
            session.change(id, value);
        }
        if (command == "config defaults") {
            session.restoreDefaults();
        }
        stored = session.stored();
        staged = session.staged();
        if (!c.request.store) {
            session.exitWithoutStoring();
        } else if (!session.store()) {
            throw DeviceRefused("STORE_CONFIG failed: " + configStatusName(kConfigStatusFailed));
        }
    });
    if (command == "config show") {
        c.json.raw("stored", itemsJson(stored));
        showItems(c.text, stored);
        return;
    }
    c.json.raw("staged", itemsJson(staged));
    if (!c.request.store) {
        c.json.raw("stored", itemsJson(stored));
        showStagedConfiguration(c.text, stored, staged);
        return;
    }
    // The adapter restarts into its bootloader; what it stored is read from it again.
    Bootloader again = openBootloader(c, bootloader.device.serial, kRestartWaitMs);
    withConfigSession(c, again, [&stored](ConfigSession& session) {
        stored = session.stored();
        session.exitWithoutStoring();
    });
    c.json.raw("stored", itemsJson(stored));
    if (stored != staged) {
        throw std::runtime_error(
            "The configuration read back after the store differs from the one sent.");
    }
    c.log.writeLine("stored configuration read back and confirmed");
    showItems(c.text, stored);
}

void carryOut(Command& c) {
    const std::string& command = c.request.command;
    if (command == "update") {
        update(c);
    } else if (command == "fault-log" || command == "clear-fault-log") {
        faultLog(c, command == "clear-fault-log");
    } else if (command.starts_with("config ")) {
        configure(c);
    } else if (command == "start") {
        Bootloader bootloader = openChosenBootloader(c);
        startApplication(c.services, bootloader.handle, c.log);
        awaitDeparture(c, bootloader);
    } else {
        openChosenBootloader(c);
    }
}

// Everything after the command line was read: the guard, the run log and the command. Returns
// the exit code; `message` gets the failure's text.
int perform(platform::Services& services, const CliRequest& request, const std::string& words,
            JsonObject& json, std::ostream& text, std::string& message) {
    try {
        if (request.command == "list") {
            listInterfaces(services, json, text);
            return exit_code::kDone;
        }
        // Held to the end of the command: never two programs on one adapter.
        const platform::InstanceClaim claim = services.host.claimSingleInstance();
        if (claim.outcome == platform::InstanceClaimOutcome::AlreadyRunning) {
            message = "Another Velkora Firmware Updater is already running.";
            return exit_code::kBusy;
        }
        if (claim.outcome == platform::InstanceClaimOutcome::Failed) {
            throw std::runtime_error("Unable to start the updater.");
        }
        RunLog log = openRunLog(services.host.programFolder(), services.clock);
        log.writeLine(std::string("velkora-cli ") + kVersion);
        log.writeLine(services.host.osVersionLine());
        log.writeLine("command line: " + words);
        Command command{services, log, request, json, text};
        try {
            carryOut(command);
        } catch (const std::exception& failure) {
            log.writeLine("command failed exit_code=" + std::to_string(exitCodeOf(failure)) + ": " +
                          failure.what());
            throw;
        }
        log.writeLine("command complete");
        return exit_code::kDone;
    } catch (const std::exception& failure) {
        message = failure.what();
        return exitCodeOf(failure);
    }
}

}  // namespace

int runCli(platform::Services& services, const std::vector<platform::NativeString>& arguments,
           std::ostream& err, bool errIsTerminal) {
    std::vector<std::string> words;
    std::string commandLine;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        words.push_back(platform::toUtf8(arguments[i]));
        commandLine += (i > 1 ? " " : "") + words.back();
    }
    const bool json = std::find(words.begin(), words.end(), "--json") != words.end();
    JsonObject result;
    std::ostringstream text;
    std::string message;
    int code = exit_code::kDone;
    try {
        const CliRequest request = parseCliArguments(words);
        if (request.help || request.version) {
            services.out << (request.help ? std::string(kUsage)
                                          : std::string("velkora-cli ") + kVersion + "\n");
            return exit_code::kDone;
        }
        result.text("command", request.command);
        // The layers' console text is progress: on a terminal it is shown, under --json it
        // becomes JSON lines, and otherwise nobody reads it.
        NullBuffer nowhere;
        ProgressLines progressLines(services.out);
        std::ostream progress(json            ? static_cast<std::streambuf*>(&progressLines)
                              : errIsTerminal ? err.rdbuf()
                                              : &nowhere);
        std::istringstream noInput;
        platform::Services layers{services.clock, services.hid, services.keys,
                                  services.host,  noInput,      progress};
        code = perform(layers, request, commandLine, result, text, message);
    } catch (const UsageError& usage) {
        code = exit_code::kUsage;
        message = std::string("velkora-cli: ") + usage.what() + " See velkora-cli --help.";
    }
    if (json) {
        result.flag("ok", code == exit_code::kDone).raw("exit_code", std::to_string(code));
        if (code != exit_code::kDone) {
            result.text("error", message);
        }
        services.out << result.str() << "\n";
    } else {
        services.out << text.str();
    }
    if (code != exit_code::kDone) {
        err << message << "\n";
    }
    return code;
}

}  // namespace velkora::cli
