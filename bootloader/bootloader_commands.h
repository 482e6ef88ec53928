#pragma once

#include <cstdint>
#include <string>

#include "hid/hid_exchange.h"

namespace velkora {

// The bootloader identity's commands.
namespace bootloader_command {
inline constexpr std::uint8_t kGetInfo = 0x01;
inline constexpr std::uint8_t kGetStatus = 0x02;
inline constexpr std::uint8_t kStartUpdate = 0x03;
inline constexpr std::uint8_t kAbortUpdate = 0x04;
inline constexpr std::uint8_t kDataChunk = 0x05;
inline constexpr std::uint8_t kEndUpdate = 0x06;
inline constexpr std::uint8_t kGetAppInfo = 0x07;
inline constexpr std::uint8_t kStartApp = 0x08;
inline constexpr std::uint8_t kStartAppUsb = 0x09;
}  // namespace bootloader_command

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

}  // namespace velkora
