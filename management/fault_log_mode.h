#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/run_log.h"
#include "hid/hid_device.h"
#include "management/fault_catalogue.h"
#include "platform/services.h"

namespace velkora {

// A fault log read whole from the adapter: its records as the user reads them, the text shown
// and saved, and the fault-dump file that holds that text.
struct FaultLog {
    std::vector<FaultDisplay> displays;
    std::string text;
    std::filesystem::path saved;
};

// What a front end does with the fault log once it is saved, while the management interface
// is still open: show it, clear the adapter's log with the handle and counter given, ...
using FaultLogUse =
    std::function<void(const FaultLog& faultLog, HidHandle& management, std::uint8_t& sequence)>;

// The fault-log session of both front ends: hands the adapter over to its application,
// downloads, verifies and renders the fault dump, saves the text beside the run log, hands it
// to `use`, and ends with EXIT. Nothing is saved or used unless the whole dump was verified
// and rendered. After the hand-over every failure still tries EXIT once, quietly, so the
// adapter is not left in its management mode.
void readFaultLog(platform::Services& services, HidHandle& bootloaderHandle,
                  std::uint8_t& bootloaderSequence, const HidDeviceInfo& bootloaderDevice,
                  RunLog& log, const FaultLogUse& use);

// Menu choice "View fault log": the fault-log session, showing the fault log and, in service
// mode, offering to clear it.
void runFaultLogMode(platform::Services& services, HidHandle& bootloaderHandle,
                     std::uint8_t& bootloaderSequence, const HidDeviceInfo& bootloaderDevice,
                     RunLog& log, bool serviceMode);

// Asks twice before the adapter's fault log is erased: yes to the question, then the word
// CLEAR typed exactly.
bool confirmClearFaultLog(ConsoleIo& console);

}  // namespace velkora
