#include "config/config_session.h"

#include <stdexcept>
#include <string>

#include "common/exceptions.h"
#include "common/text.h"
#include "management/management_commands.h"

namespace velkora {

void ConfigSession::run(const std::function<void()>& work) {
    try {
        work();
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

void ConfigSession::open() {
    readApplicationIdentity(management_.handle);
    stored_ = readConfigSnapshot(management_.handle, sequence_);
    staged_ = stored_;
    log_.writeLine("configuration application identity and initial snapshot verified");
}

// The adapter's set of items must not change while it is being edited.
ConfigSnapshot ConfigSession::readCheckedSnapshot() {
    ConfigSnapshot snapshot = readConfigSnapshot(management_.handle, sequence_);
    for (std::size_t i = 0; i < snapshot.size(); ++i) {
        if (snapshot[i].has_value() != stored_[i].has_value()) {
            throw std::runtime_error(
                "Configuration item availability changed during this session.");
        }
    }
    return snapshot;
}

void ConfigSession::change(std::uint8_t itemId, std::uint8_t valueIndex) {
    setConfigItem(management_.handle, sequence_, itemId, valueIndex);
    ConfigSnapshot confirmed = readCheckedSnapshot();
    // Only what the adapter itself reports counts.
    if (confirmed[itemId - 1u] != valueIndex) {
        throw std::runtime_error(
            "The staged configuration did not reflect the accepted item change.");
    }
    staged_ = confirmed;
    log_.writeLine("SET_CONFIG_ITEM accepted item=" + formatHexByte(itemId) +
                   " value=" + std::to_string(valueIndex));
}

void ConfigSession::restoreDefaults() {
    resetConfig(management_.handle, sequence_);
    staged_ = readCheckedSnapshot();
    log_.writeLine("RESET_CONFIG staged defaults");
}

void ConfigSession::refresh() {
    staged_ = readCheckedSnapshot();
}

bool ConfigSession::store() {
    const std::uint8_t status = storeUnderGuard();
    if (status == kConfigStatusFailed) {
        log_.writeLine("STORE_CONFIG returned FAILED; staged settings remain available");
        return false;
    }
    if (status != 0) {
        throw DeviceRefused("STORE_CONFIG failed: " + configStatusName(status));
    }
    management_.handle.close();
    log_.writeLine("STORE_CONFIG returned OK; application HID handle closed before device reset");
    return true;
}

// When the store's exchange fails, the adapter may already have stored and restarted: nothing
// more is sent to it, and the user is told to look before trying again. The message is no
// transport failure any more: the connection's loss is already its cause.
std::uint8_t ConfigSession::storeUnderGuard() {
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

void ConfigSession::exitWithoutStoring() {
    exitAttempted_ = true;
    sendExit(management_.handle, sequence_, log_);
    management_.handle.close();
}

void ConfigSession::leaveAfterFailure() noexcept {
    if (!exitAttempted_ && !storeOutcomeUncertain_) {
        exitQuietly(management_.handle, sequence_, log_);
    }
    management_.handle.close();
}

}  // namespace velkora
