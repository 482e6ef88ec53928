#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "app/run_log.h"
#include "hid/hid_device.h"
#include "platform/services.h"

namespace velkora {

// Polls the HID list every 100 ms until exactly one adapter in bootloader identity is
// present, and returns it. Q, q or Esc cancel with UserCancelled(quietCancel); two or more
// bootloaders fail. There is no time limit.
HidDeviceInfo waitForBootloader(platform::Services& services, RunLog& log, bool quietCancel);

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
