#pragma once

#include <cstdint>

#include "common/run_log.h"
#include "hid/hid_device.h"
#include "platform/services.h"

namespace velkora {

// How often the waits for the adapter look at the device list.
inline constexpr std::uint32_t kDevicePollIntervalMs = 100;

// Polls the HID list every 100 ms until exactly one adapter in bootloader identity is
// present, and returns it. Q, q or Esc cancel with UserCancelled(quietCancel); two or more
// bootloaders fail. There is no time limit.
HidDeviceInfo waitForBootloader(platform::Services& services, RunLog& log, bool quietCancel);

}  // namespace velkora
