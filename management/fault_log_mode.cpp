#include "management/fault_log_mode.h"

#include <istream>
#include <ostream>
#include <string>

#include "management/fault_catalogue.h"
#include "management/fault_dump_download.h"
#include "management/fault_dump_parser.h"
#include "management/fault_log_text.h"
#include "management/management_commands.h"
#include "management/management_handover.h"

namespace velkora {
namespace {

// Downloads, verifies and renders the dump, and saves the text; nothing of it is saved unless
// all of it could be verified and rendered.
FaultLog downloadFaultLog(platform::Services& services, ManagementConnection& management,
                          std::uint8_t& sequence, RunLog& log) {
    const std::string dump =
        downloadFaultDump(services, management.handle, sequence, management.device, log);
    const std::vector<FaultRecord> records = parseFaultDump(dump);
    log.writeLine("fault dump parser verified records=" + std::to_string(records.size()));
    FaultLog faultLog;
    faultLog.displays = describeFaultRecords(records);
    faultLog.text = formatFaultLog(faultLog.displays);
    faultLog.saved = log.writeFaultDump(faultLog.text);
    log.writeLine("fault dump saved_to=" + platform::toUtf8(faultLog.saved.native()));
    return faultLog;
}

}  // namespace

void readFaultLog(platform::Services& services, HidHandle& bootloaderHandle,
                  std::uint8_t& bootloaderSequence, const HidDeviceInfo& bootloaderDevice,
                  RunLog& log, const FaultLogUse& use) {
    ManagementConnection management =
        startManagementInterface(services, bootloaderHandle, bootloaderSequence, bootloaderDevice,
                                 log, "START_APP_USB succeeded; waiting for application HID");
    log.writeLine("Velkora management interface opened");

    std::uint8_t sequence = 1;
    bool exitAttempted = false;
    try {
        services.out << "Reading fault log...\n";
        use(downloadFaultLog(services, management, sequence, log), management.handle, sequence);
        exitAttempted = true;
        sendExit(management.handle, sequence, log);
        management.handle.close();
    } catch (...) {
        // A failed EXIT is not tried a second time.
        if (!exitAttempted) {
            exitQuietly(management.handle, sequence, log);
        }
        management.handle.close();
        throw;
    }
}

void runFaultLogMode(platform::Services& services, HidHandle& bootloaderHandle,
                     std::uint8_t& bootloaderSequence, const HidDeviceInfo& bootloaderDevice,
                     RunLog& log, bool serviceMode) {
    services.out << "Starting fault-log mode...\n" << std::flush;
    readFaultLog(services, bootloaderHandle, bootloaderSequence, bootloaderDevice, log,
                 [&](const FaultLog& faultLog, HidHandle& management, std::uint8_t& sequence) {
                     // The file was written first: a fault log that could not be saved is not
                     // shown either.
                     services.out << "\n" << faultLog.text << std::flush;
                     ConsoleIo console{services.in, services.out};
                     if (serviceMode && confirmClearFaultLog(console)) {
                         sendClearFaults(management, sequence, log, services.out);
                     }
                 });
}

bool confirmClearFaultLog(ConsoleIo& console) {
    if (!askYesNo(console, "Clear fault log? [Y/N]: ")) {
        return false;
    }
    // The confirmation is compared exactly as typed: no trimming, no change of case.
    console.out << "Type CLEAR to confirm: " << std::flush;
    std::string line;
    std::getline(console.in, line);
    if (line == "CLEAR") {
        return true;
    }
    console.out << "Fault log clearing cancelled.\n";
    return false;
}

}  // namespace velkora
