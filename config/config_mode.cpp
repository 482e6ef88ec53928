#include "config/config_mode.h"

#include <ostream>
#include <stdexcept>
#include <string>

#include "common/console.h"
#include "common/text.h"
#include "config/config_view.h"
#include "management/management_commands.h"
#include "management/management_handover.h"

namespace velkora {
namespace {

// One session of the editor on an open management interface.
class ConfigurationSession {
  public:
    ConfigurationSession(platform::Services& services, ManagementConnection& management,
                         RunLog& log)
        : services_(services),
          console_{services.in, services.out},
          management_(management),
          log_(log) {}

    // Whatever ends the session early, the management interface is left behind it. A lost
    // connection becomes the message that tells the technician nothing was stored; every
    // other failure is passed on unchanged.
    void run() {
        try {
            edit();
        } catch (const HidTransportError& failure) {
            leaveAfterFailure();
            throw std::runtime_error(
                "Application HID connection was lost or did not respond. Configuration was not "
                "stored; reconnect the device to continue. Detail: " +
                std::string(failure.what()));
        } catch (...) {
            leaveAfterFailure();
            throw;
        }
    }

  private:
    void edit() {
        readApplicationIdentity(management_.handle);
        stored_ = readConfigSnapshot(management_.handle, sequence_);
        staged_ = stored_;
        log_.writeLine("configuration application identity and initial snapshot verified");
        showStagedConfiguration(services_.out, stored_, staged_);
        for (;;) {
            services_.out << "Configuration: 1 Change item  2 Restore defaults  3 Store  "
                             "4 Exit without storing\n";
            const std::string reply = readConsoleLine(console_, "Selection: ");
            if (reply == "1") {
                changeConfigItem();
            } else if (reply == "2") {
                restoreDefaults();
            } else if (reply == "3") {
                if (store()) {
                    return;
                }
            } else if (reply == "4") {
                exitWithoutStoring();
                return;
            } else {
                services_.out << "Please select 1 through 4.\n";
            }
        }
    }

    // Reads the working configuration again; the adapter's set of items must not change
    // while it is being edited.
    ConfigSnapshot readCheckedSnapshot() {
        ConfigSnapshot snapshot = readConfigSnapshot(management_.handle, sequence_);
        for (std::size_t i = 0; i < snapshot.size(); ++i) {
            if (snapshot[i].has_value() != stored_[i].has_value()) {
                throw std::runtime_error(
                    "Configuration item availability changed during this session.");
            }
        }
        return snapshot;
    }

    void changeConfigItem() {
        const std::string itemReply = readConsoleLine(console_, "Item number (Enter to cancel): ");
        if (itemReply.empty()) {
            return;
        }
        const std::optional<std::uint8_t> id = parseSmallNumber(itemReply);
        if (!id || *id < 1 || *id > kConfigItemCount || !staged_[*id - 1u]) {
            services_.out << "That item is not available.\n";
            return;
        }
        const ConfigItemInfo& item = configItem(*id);
        services_.out << item.name << " values:\n";
        for (std::uint8_t index = 0; index < item.valueCount; ++index) {
            services_.out << static_cast<int>(index) << ". " << item.valueNames[index] << "\n";
        }
        const std::string valueReply = readConsoleLine(console_, "Value (Enter to cancel): ");
        if (valueReply.empty()) {
            return;
        }
        const std::optional<std::uint8_t> value = parseSmallNumber(valueReply);
        if (!value || *value >= item.valueCount) {
            services_.out << "Invalid value.\n";
            return;
        }
        setConfigItem(management_.handle, sequence_, *id, *value);
        ConfigSnapshot confirmed = readCheckedSnapshot();
        // The editor shows only what the adapter itself reports.
        if (confirmed[*id - 1u] != value) {
            throw std::runtime_error(
                "The staged configuration did not reflect the accepted item change.");
        }
        staged_ = confirmed;
        log_.writeLine("SET_CONFIG_ITEM accepted item=" + formatHexByte(*id) +
                       " value=" + std::to_string(*value));
        showStagedConfiguration(services_.out, stored_, staged_);
    }

    void restoreDefaults() {
        resetConfig(management_.handle, sequence_);
        staged_ = readCheckedSnapshot();
        log_.writeLine("RESET_CONFIG staged defaults");
        showStagedConfiguration(services_.out, stored_, staged_);
    }

    // True when the adapter accepted the store and the session is over.
    bool store() {
        staged_ = readCheckedSnapshot();
        showStagedConfiguration(services_.out, stored_, staged_);
        if (!askYesNo(console_, "Store staged settings and restart device? [Y/N]: ",
                      OnClosedInput::EndSession)) {
            return false;
        }
        const std::uint8_t status = storeUnderGuard();
        if (status == kConfigStatusFailed) {
            log_.writeLine("STORE_CONFIG returned FAILED; staged settings remain available");
            services_.out << "Store failed. Staged settings are still available.\n";
            return false;
        }
        if (status != 0) {
            throw std::runtime_error("STORE_CONFIG failed: " + configStatusName(status));
        }
        management_.handle.close();
        log_.writeLine(
            "STORE_CONFIG returned OK; application HID handle closed before device reset");
        services_.out << "Store accepted. Device is restarting.\n";
        return true;
    }

    // When the store's exchange fails, the adapter may already have stored and restarted:
    // nothing more is sent to it, and the user is told to look before trying again. The
    // message is no transport failure any more: the connection's loss is already its cause.
    std::uint8_t storeUnderGuard() {
        try {
            return storeConfig(management_.handle, sequence_);
        } catch (const std::exception& failure) {
            storeOutcomeUncertain_ = true;
            management_.handle.close();
            log_.writeLine(std::string("STORE_CONFIG outcome uncertain: ") + failure.what());
            throw std::runtime_error(
                std::string("STORE_CONFIG outcome is uncertain; the device may have stored "
                            "settings and reset. Reconnect and inspect its configuration before "
                            "trying again. Detail: ") +
                failure.what());
        }
    }

    void exitWithoutStoring() {
        exitAttempted_ = true;
        sendExit(management_.handle, sequence_, log_);
        management_.handle.close();
        services_.out << "Exited without storing changes.\n";
    }

    // Leaves the management interface after a failure: one quiet EXIT unless EXIT was tried
    // already or a store may have restarted the adapter, and the handle closed.
    void leaveAfterFailure() noexcept {
        if (!exitAttempted_ && !storeOutcomeUncertain_) {
            exitQuietly(management_.handle, sequence_, log_);
        }
        management_.handle.close();
    }

    platform::Services& services_;
    ConsoleIo console_;
    ManagementConnection& management_;
    RunLog& log_;
    std::uint8_t sequence_ = 2;  // GET_INFO went out with 1
    ConfigSnapshot stored_{};
    ConfigSnapshot staged_{};
    bool exitAttempted_ = false;
    bool storeOutcomeUncertain_ = false;
};

}  // namespace

void runConfigurationMode(platform::Services& services, HidHandle& bootloaderHandle,
                          std::uint8_t& bootloaderSequence, const HidDeviceInfo& bootloaderDevice,
                          RunLog& log) {
    services.out << "Starting configuration mode...\n" << std::flush;
    ManagementConnection management =
        startManagementInterface(services, bootloaderHandle, bootloaderSequence, bootloaderDevice,
                                 log, "START_APP_USB succeeded for configuration");
    ConfigurationSession(services, management, log).run();
}

}  // namespace velkora
