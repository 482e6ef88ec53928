#pragma once

#include <cstdint>

#include "common/run_log.h"
#include "config/config_protocol.h"
#include "hid/hid_device.h"
#include "platform/services.h"

namespace velkora {

// Menu choice "Configuration": hands the adapter over to its application, checks that it
// speaks the expected configuration format, and offers the staged editor. Every change goes
// to the adapter at once and is read back before it is shown; nothing is stored until the
// user stores. Returns when the store was accepted or the user left without storing.
void runConfigurationMode(platform::Services& services, HidHandle& bootloaderHandle,
                          std::uint8_t& bootloaderSequence, const HidDeviceInfo& bootloaderDevice,
                          RunLog& log);

}  // namespace velkora
