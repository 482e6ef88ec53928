#include "app/updater_run.h"

#include <ostream>
#include <string>

#include "app/run_log.h"

namespace velkora {
namespace {

constexpr const char* kUpdaterVersion = "2.0.0.0";

}  // namespace

void runUpdater(platform::Services& services, bool serviceMode) {
    std::ostream& out = services.out;
    out << (serviceMode ? "Velkora Firmware Updater [SERVICE MODE]\n"
                        : "Velkora Firmware Updater\n");
    out << "Updater version: " << kUpdaterVersion << "\n\n";

    const std::filesystem::path programFolder = services.host.programFolder();
    RunLog log = openRunLog(programFolder, services.clock);
    log.writeLine(std::string("Velkora Firmware Updater ") + kUpdaterVersion);
    log.writeLine(services.host.osVersionLine());
    if (serviceMode) {
        log.writeLine("service mode enabled");
    }
}

}  // namespace velkora
