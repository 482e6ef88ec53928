#pragma once

#include <iosfwd>

#include "bootloader/bootloader_records.h"
#include "common/run_log.h"

namespace velkora {

// Prints what the run found on the adapter: versions, serial number, installed application.
void showDeviceInformation(std::ostream& out, const BootloaderInfo& boot, const AppInfo& app);

// Writes the same findings to the run log, with the protocol and compatibility values.
void logDeviceInformation(RunLog& log, const BootloaderInfo& boot, const AppInfo& app);

}  // namespace velkora
