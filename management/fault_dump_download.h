#pragma once

#include <cstdint>
#include <string>

#include "common/run_log.h"
#include "hid/hid_device.h"
#include "platform/services.h"

namespace velkora {

// Limits of one download: the device acknowledges FAULT_DUMP and then streams the dump in
// reports of 1 to 56 bytes until the end marker has arrived.
namespace fault_dump_limit {
inline constexpr std::uint64_t kOverallMs = 30000;
inline constexpr std::uint64_t kReportReadMs = 5000;
inline constexpr std::size_t kMaxBytes = 65536;
}  // namespace fault_dump_limit

// Downloads the fault dump from the management interface: every payload byte of every
// accepted report, the end marker and whatever follows it in its report included. Every
// step is logged; `expected` is the interface in use, for the presence check after failures.
std::string downloadFaultDump(platform::Services& services, HidHandle& handle,
                              std::uint8_t& sequence, const HidDeviceInfo& expected, RunLog& log);

}  // namespace velkora
