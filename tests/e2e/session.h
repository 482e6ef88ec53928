#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/simulated_adapter.h"
#include "tests/support/sim_services.h"

namespace velkora::testing {

// A firmware package beside the program, as the build makes one for the demo: its image
// starts with the simulator's header line, so that an installed image reports its version.
struct PackageProfile {
    std::uint8_t compatibility = 0x03;
    std::string version = "1.5.0.0";
    std::size_t bytes = 510;  // ten chunks: the progress line stays short enough to read
};

// One session of the program's real entry point against a simulated adapter, in virtual
// time, in a temporary program folder of its own.
struct Session {
    std::string scenarioName;  // for the transcript
    std::string scenario;      // the scenario's text
    std::vector<std::string> arguments;
    UserScript user;  // lines typed and keys pressed at virtual times
    std::optional<PackageProfile> package;
    int runs = 1;  // the user starts the updater again this many times in all
};

// What the session left behind.
struct SessionResult {
    std::vector<int> exitCodes;
    std::string printed;  // the console output exactly
    std::string screen;   // with the typed lines where they were read, paths made stable
    // Each run log by name, its lines without time stamps; the names and every file the
    // session wrote, with date and time as YYYYMMDD_HHMMSS and "#2" for a second of a kind.
    std::map<std::string, std::vector<std::string>> logs;
    std::map<std::string, std::string> files;
    std::vector<sim::ReceivedRequest> requests;
    std::uint64_t virtualMs = 0;
    std::size_t openConnections = 0;
    std::size_t linesNotRead = 0;
};

// The text of a scenario file of tests/scenarios.
std::string scenarioText(const std::string& fileName);

SessionResult runSession(const Session& session);

// Every log line of the session, run after run.
std::vector<std::string> allLogLines(const SessionResult& result);

// One request per line: "GET_CONFIG seq 2", with " payload 01 02" when it carried one.
std::vector<std::string> requestLines(const SessionResult& result);

// How many EXIT requests the adapter received.
int exitRequests(const SessionResult& result);

// The whole session as plain text for a golden file: console, exit codes, run logs, files
// written and the requests the adapter received, control characters shown as <CR>, <ESC>
// and <0xNN>.
std::string renderTranscript(const Session& session, const SessionResult& result);

std::string visible(const std::string& text);

// Compares the text with tests/e2e/golden/<name>.txt; VELKORA_UPDATE_GOLDEN=1 rewrites it.
::testing::AssertionResult matchesGolden(const std::string& name, const std::string& actual);

}  // namespace velkora::testing
