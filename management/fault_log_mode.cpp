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

// Downloads, verifies and renders the dump; nothing of it is shown or saved unless all of it
// could be verified and rendered.
std::string readFaultLogText(platform::Services& services, ManagementConnection& management,
                             std::uint8_t& sequence, RunLog& log) {
    const std::string dump =
        downloadFaultDump(services, management.handle, sequence, management.device, log);
    const std::vector<FaultRecord> records = parseFaultDump(dump);
    log.writeLine("fault dump parser verified records=" + std::to_string(records.size()));
    return formatFaultLog(describeFaultRecords(records));
}

}  // namespace

void runFaultLogMode(platform::Services& services, HidHandle& bootloaderHandle,
                     std::uint8_t& bootloaderSequence, const HidDeviceInfo& bootloaderDevice,
                     RunLog& log, bool serviceMode) {
    services.out << "Starting fault-log mode...\n" << std::flush;
    ManagementConnection management =
        startManagementInterface(services, bootloaderHandle, bootloaderSequence, bootloaderDevice,
                                 log, "START_APP_USB succeeded; waiting for application HID");
    log.writeLine("Velkora management interface opened");

    std::uint8_t sequence = 1;
    bool exitAttempted = false;
    try {
        services.out << "Reading fault log...\n";
        const std::string text = readFaultLogText(services, management, sequence, log);
        // The file is written first: a fault log that could not be saved is not shown either.
        const std::filesystem::path saved = log.writeFaultDump(text);
        log.writeLine("fault dump saved_to=" + platform::toUtf8(saved.native()));
        services.out << "\n" << text << std::flush;

        ConsoleIo console{services.in, services.out};
        if (serviceMode && confirmClearFaultLog(console)) {
            sendClearFaults(management.handle, sequence, log, services.out);
        }
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
