#pragma once

#include <cstdint>
#include <functional>

#include "common/run_log.h"
#include "config/config_protocol.h"
#include "management/management_handover.h"

namespace velkora {

// The configuration work of one session on an open management interface, shared by the
// console editor and the command-line program. Every change goes to the adapter at once and
// is read back before it counts; the set of items the adapter has must stay the same
// throughout. The session keeps the configuration first read (stored) and the one last read
// (staged).
class ConfigSession {
  public:
    ConfigSession(ManagementConnection& management, RunLog& log)
        : management_(management), log_(log) {}

    // Runs the session's work. Whatever ends it early, the management interface is left
    // behind it: one quiet EXIT unless EXIT was tried already or a store may have restarted
    // the adapter, and the handle closed. A lost connection becomes the message that tells
    // the technician nothing was stored; every other failure is passed on unchanged.
    void run(const std::function<void()>& work);

    // GET_INFO and the first GET_CONFIG: the adapter's identity and its stored configuration.
    void open();

    // SET_CONFIG_ITEM for an item the adapter has and a valid value, then the read-back,
    // which must hold the value sent.
    void change(std::uint8_t itemId, std::uint8_t valueIndex);

    // RESET_CONFIG and the read-back: the defaults are staged, nothing is stored.
    void restoreDefaults();

    // Reads the staged configuration again.
    void refresh();

    // STORE_CONFIG. True when the adapter accepted (the handle is then closed: the adapter
    // restarts), false when it answered FAILED (the staged settings remain); any other status
    // fails. A store whose exchange failed is uncertain and says so.
    bool store();

    // EXIT without storing; the handle is closed.
    void exitWithoutStoring();

    const ConfigSnapshot& stored() const { return stored_; }
    const ConfigSnapshot& staged() const { return staged_; }

  private:
    ConfigSnapshot readCheckedSnapshot();
    std::uint8_t storeUnderGuard();
    void leaveAfterFailure() noexcept;

    ManagementConnection& management_;
    RunLog& log_;
    std::uint8_t sequence_ = 2;  // GET_INFO goes out with 1
    ConfigSnapshot stored_{};
    ConfigSnapshot staged_{};
    bool exitAttempted_ = false;
    bool storeOutcomeUncertain_ = false;
};

}  // namespace velkora
