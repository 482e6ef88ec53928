#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/run_log.h"
#include "hid/hid_device.h"
#include "platform/services.h"

namespace velkora {

// Polls for up to 15 seconds for exactly one management interface whose USB serial equals
// `expectedSerial` (any serial when that is empty), and returns it.
HidDeviceInfo waitForManagementInterface(platform::Services& services,
                                         const std::string& expectedSerial, RunLog& log);

// The open management interface and the listing it was found in.
struct ManagementConnection {
    HidHandle handle;
    HidDeviceInfo device;
};

// Hands the adapter from its bootloader to its application: START_APP_USB on the bootloader,
// `successLine` to the run log, the bootloader handle closed, then the wait for the
// management interface with the bootloader's serial, which is opened and returned.
ManagementConnection startManagementInterface(platform::Services& services,
                                              HidHandle& bootloaderHandle,
                                              std::uint8_t& bootloaderSequence,
                                              const HidDeviceInfo& bootloaderDevice, RunLog& log,
                                              std::string_view successLine);

}  // namespace velkora
