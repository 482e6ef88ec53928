#pragma once

#include <cstdint>
#include <string>

#include "hid/hid_exchange.h"

namespace velkora {

// The bootloader identity's commands.
enum class BootloaderCommand : std::uint8_t {
    GetInfo = 0x01,
    GetStatus = 0x02,
    StartUpdate = 0x03,
    AbortUpdate = 0x04,
    DataChunk = 0x05,
    EndUpdate = 0x06,
    GetAppInfo = 0x07,
    StartApp = 0x08,
    StartAppUsb = 0x09,
};

// How long each command may take to be answered, in milliseconds. Flash work makes the end
// of an update (verification and installation) the slowest.
namespace bootloader_timeout {
inline constexpr std::uint32_t kGetInfo = 3000;
inline constexpr std::uint32_t kGetStatus = 3000;
inline constexpr std::uint32_t kStartUpdate = 5000;
inline constexpr std::uint32_t kAbortUpdate = 3000;
inline constexpr std::uint32_t kDataChunk = 10000;
inline constexpr std::uint32_t kEndUpdate = 20000;
inline constexpr std::uint32_t kGetAppInfo = 3000;
inline constexpr std::uint32_t kStartApp = 3000;
inline constexpr std::uint32_t kStartAppUsb = 3000;
}  // namespace bootloader_timeout

// Status codes every answer carries.
namespace bootloader_status {
inline constexpr std::uint8_t kOk = 0;
inline constexpr std::uint8_t kBusy = 5;
inline constexpr std::uint8_t kCompatMismatch = 18;
}  // namespace bootloader_status

// "OK", "BAD_MAGIC", ... by code; codes without a name read "STATUS_0x0B".
std::string bootloaderStatusName(std::uint8_t status);

// The application identity names its statuses the same way, except that 6 is "FAILED".
std::string applicationStatusName(std::uint8_t status);

// Fails with "<label> failed: <status name>" unless the answer's status is 0.
void requireOk(const std::string& label, const HidResponse& response);

// Sends one bootloader request with an empty payload or the given one.
HidResponse sendBootloaderCommand(HidHandle& handle, BootloaderCommand command,
                                  std::uint8_t sequence, std::uint32_t timeoutMs,
                                  std::span<const std::uint8_t> payload = {});

// Takes the counter's current value for a request and moves the counter on; 255 wraps to 0.
inline std::uint8_t takeSequence(std::uint8_t& counter) {
    const std::uint8_t sequence = counter;
    counter = static_cast<std::uint8_t>(counter + 1);
    return sequence;
}

}  // namespace velkora
