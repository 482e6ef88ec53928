#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "app/run_log.h"
#include "bootloader/bootloader_records.h"
#include "hid/hid_device.h"
#include "platform/services.h"

namespace velkora {

// What the transfer needs to know about the two sides.
struct TransferTarget {
    std::uint8_t protocolMinor = 0;          // from GET_INFO, announced in START_UPDATE
    std::uint8_t deviceCompatibility = 0;    // from GET_INFO
    std::uint8_t firmwareCompatibility = 0;  // from the package
};

// Sends the image to the bootloader: START_UPDATE (recovering once from BUSY where that is
// safe), DATA_CHUNK requests of at most 51 bytes with a percentage on the console, GET_STATUS
// and END_UPDATE, whose status decides. `label` starts the console progress line and several
// messages ("Sending firmware"). Returns the END_UPDATE result of a successful update.
EndUpdateResult transferFirmware(platform::Services& services, HidHandle& handle,
                                 std::span<const std::uint8_t> image, const TransferTarget& target,
                                 std::uint8_t& sequence, const std::string& label, RunLog& log);

// Opens the transfer with START_UPDATE and, when the bootloader answers BUSY, the one
// recovery its reported state allows. Returns the successful START_UPDATE answer.
HidResponse startUpdate(HidHandle& handle, std::uint32_t imageSize, std::uint8_t protocolMinor,
                        std::uint8_t& sequence, const std::string& label, RunLog& log);

}  // namespace velkora
