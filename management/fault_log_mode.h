#pragma once

#include <cstdint>

#include "common/console.h"
#include "common/run_log.h"
#include "hid/hid_device.h"
#include "platform/services.h"

namespace velkora {

// Menu choice "View fault log": hands the adapter over to its application, downloads,
// verifies and renders the fault dump, saves the text beside the run log and shows it, offers
// to clear the log in service mode, and ends with EXIT. After the hand-over every failure
// still tries EXIT once, quietly, so the adapter is not left in its management mode.
void runFaultLogMode(platform::Services& services, HidHandle& bootloaderHandle,
                     std::uint8_t& bootloaderSequence, const HidDeviceInfo& bootloaderDevice,
                     RunLog& log, bool serviceMode);

// Asks twice before the adapter's fault log is erased: yes to the question, then the word
// CLEAR typed exactly.
bool confirmClearFaultLog(ConsoleIo& console);

}  // namespace velkora
