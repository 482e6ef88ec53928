#pragma once

#include <cstdint>

#include "common/run_log.h"
#include "hid/hid_exchange.h"

namespace velkora {

// Opens a transfer with START_UPDATE and, when the bootloader answers BUSY, the one recovery
// its reported state allows: an idle bootloader gets one retry, one in ERROR with no transfer
// active is aborted and then gets one retry; an active or finished transfer is never touched.
// Returns the successful START_UPDATE answer; every other outcome fails with its message.
HidResponse startUpdate(HidHandle& handle, std::uint32_t imageSize, std::uint8_t protocolMinor,
                        std::uint8_t& sequence, RunLog& log);

}  // namespace velkora
