#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "common/run_log.h"
#include "hid/hid_device.h"
#include "hid/hid_exchange.h"
#include "platform/services.h"

namespace velkora {

// The application identity's management commands.
namespace management_command {
inline constexpr std::uint8_t kFaultDump = 0x80;
inline constexpr std::uint8_t kExit = 0x81;
inline constexpr std::uint8_t kClearFaults = 0x82;
}  // namespace management_command

inline constexpr std::uint32_t kManagementTimeoutMs = 5000;

// Checks an answer of the management interface: a complete header with the right magic,
// version, command and sequence ("<name> returned an invalid application HID report."),
// then a zero status ("<name> failed: <status name>").
void checkManagementResponse(const HidResponse& response, std::uint8_t command,
                             std::uint8_t sequence, const std::string& name);

// Tells the application to leave its management mode.
void sendExit(HidHandle& handle, std::uint8_t& sequence, RunLog& log);

// Erases the adapter's fault log and says so on the console.
void sendClearFaults(HidHandle& handle, std::uint8_t& sequence, RunLog& log, std::ostream& out);

// sendExit for clean-up paths: a failure is logged, never raised, so that it cannot hide the
// failure that is being cleaned up after.
void exitQuietly(HidHandle& handle, std::uint8_t& sequence, RunLog& log) noexcept;

// After a failed download: logs whether the management interface that was in use is still
// listed, and how many are. Only adds a diagnostic line; never fails.
void logManagementInterfacePresence(platform::Services& services, const HidDeviceInfo& expected,
                                    RunLog& log) noexcept;

}  // namespace velkora
