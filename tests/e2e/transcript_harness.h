#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"
#include "sim/simulated_adapter.h"
#include "tests/e2e/firmware_package.h"
#include "tests/support/sim_services.h"

namespace velkora::testing {

// One scripted session with the updater against a simulated adapter.
struct TranscriptScript {
    std::string scenario;                           // a file in tests/scenarios
    std::vector<std::string> arguments;             // after the program's name
    UserScript user;                                // lines typed and keys pressed at virtual times
    std::optional<FirmwarePackageProfile> package;  // a firmware package beside the program
};

// What the session left behind.
struct TranscriptResult {
    int exitCode = 0;
    std::string printed;  // the console output exactly
    std::string screen;   // the same with the typed lines where they were read
    // Each run log, by file name, with its lines' time stamps and the following blank removed.
    std::map<std::string, std::vector<std::string>> logs;
    // Every file the session created or changed in the program folder, by its path relative
    // to the folder with "/" separators; date and time in names read YYYYMMDD_HHMMSS.
    std::map<std::string, std::string> files;
    std::vector<sim::ReceivedRequest> requests;
    std::uint64_t virtualMs = 0;
    std::size_t openConnections = 0;
    std::size_t linesNotRead = 0;
};

// What runs in the session: by default the program's real entry point with `arguments`.
using SessionBody = std::function<int(platform::Services&, const std::vector<std::string>&)>;

int runRealEntryPoint(platform::Services& services, const std::vector<std::string>& arguments);

TranscriptResult runTranscript(const TranscriptScript& script,
                               const SessionBody& body = runRealEntryPoint);

// The whole session as plain text for a golden file: console, exit code, run logs, files
// written and the requests the adapter received. Control characters are shown as <CR>,
// <ESC> and <0xNN>, so the file stays readable and its line ends are plain.
std::string renderTranscript(const TranscriptScript& script, const TranscriptResult& result);

// Shows the control characters of a text, keeping its line feeds.
std::string visible(const std::string& text);

}  // namespace velkora::testing
