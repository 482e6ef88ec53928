#pragma once

#include <cstdint>
#include <span>

#include "bootloader/bootloader_records.h"
#include "common/run_log.h"
#include "hid/hid_device.h"
#include "package/firmware_package.h"
#include "platform/services.h"

namespace velkora {

// Starts the console's progress line and the transfer's failure messages.
inline constexpr const char* kTransferLabel = "Sending firmware";

// What the transfer needs to know about the two sides.
struct TransferTarget {
    std::uint8_t protocolMinor = 0;          // from GET_INFO, announced in START_UPDATE
    std::uint8_t deviceCompatibility = 0;    // from GET_INFO
    std::uint8_t firmwareCompatibility = 0;  // from the package
};

// Sends the image to the bootloader: START_UPDATE (recovering once from BUSY where that is
// safe), DATA_CHUNK requests of at most 51 bytes with a percentage on the console, GET_STATUS
// and END_UPDATE, whose status decides. The image comes from a firmware package, which never
// holds more bytes than 32 bits can announce. Returns the END_UPDATE result of a successful
// update.
EndUpdateResult transferFirmware(platform::Services& services, HidHandle& handle,
                                 std::span<const std::uint8_t> image, const TransferTarget& target,
                                 std::uint8_t& sequence, RunLog& log);

// The update as the run performs it: "transfer start", the transfer of the package's image to
// the bootloader described by `boot`, the time it took and the image's size in the run log,
// and "Installing and verifying..." once the bootloader has accepted the image.
void installFirmware(platform::Services& services, HidHandle& handle,
                     const FirmwarePackage& package, const BootloaderInfo& boot,
                     std::uint8_t& sequence, RunLog& log);

}  // namespace velkora
