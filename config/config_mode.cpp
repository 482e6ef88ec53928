#include "config/config_mode.h"

#include <optional>
#include <ostream>
#include <string>

#include "common/console.h"
#include "config/config_session.h"
#include "config/config_view.h"
#include "management/management_handover.h"

namespace velkora {
namespace {

// The console dialogue of the editor over one configuration session.
class ConfigurationEditor {
  public:
    ConfigurationEditor(platform::Services& services, ConfigSession& session)
        : services_(services), console_{services.in, services.out}, session_(session) {}

    void edit() {
        session_.open();
        show();
        for (;;) {
            services_.out << "Configuration: 1 Change item  2 Restore defaults  3 Store  "
                             "4 Exit without storing\n";
            const std::string reply = readConsoleLine(console_, "Selection: ");
            if (reply == "1") {
                changeConfigItem();
            } else if (reply == "2") {
                session_.restoreDefaults();
                show();
            } else if (reply == "3") {
                if (store()) {
                    return;
                }
            } else if (reply == "4") {
                session_.exitWithoutStoring();
                services_.out << "Exited without storing changes.\n";
                return;
            } else {
                services_.out << "Please select 1 through 4.\n";
            }
        }
    }

  private:
    void show() { showStagedConfiguration(services_.out, session_.stored(), session_.staged()); }

    void changeConfigItem() {
        const std::string itemReply = readConsoleLine(console_, "Item number (Enter to cancel): ");
        if (itemReply.empty()) {
            return;
        }
        const std::optional<std::uint8_t> id = parseSmallNumber(itemReply);
        if (!id || *id < 1 || *id > kConfigItemCount || !session_.staged()[*id - 1u]) {
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
        session_.change(*id, *value);
        show();
    }

    // True when the adapter accepted the store and the session is over.
    bool store() {
        session_.refresh();
        show();
        if (!askYesNo(console_, "Store staged settings and restart device? [Y/N]: ",
                      OnClosedInput::EndSession)) {
            return false;
        }
        if (!session_.store()) {
            services_.out << "Store failed. Staged settings are still available.\n";
            return false;
        }
        services_.out << "Store accepted. Device is restarting.\n";
        return true;
    }

    platform::Services& services_;
    ConsoleIo console_;
    ConfigSession& session_;
};

}  // namespace

void runConfigurationMode(platform::Services& services, HidHandle& bootloaderHandle,
                          std::uint8_t& bootloaderSequence, const HidDeviceInfo& bootloaderDevice,
                          RunLog& log) {
    services.out << "Starting configuration mode...\n" << std::flush;
    ManagementConnection management =
        startManagementInterface(services, bootloaderHandle, bootloaderSequence, bootloaderDevice,
                                 log, "START_APP_USB succeeded for configuration");
    ConfigSession session(management, log);
    ConfigurationEditor editor(services, session);
    session.run([&editor] { editor.edit(); });
}

}  // namespace velkora
