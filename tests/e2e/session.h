#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"
#include "sim/scripted_console.h"
#include "sim/scripted_keys.h"

namespace velkora::testing {

// What the user does during a simulated run: lines typed and keys pressed at virtual times.
struct UserScript {
    std::vector<sim::ConsoleLine> lines;
    std::vector<sim::KeyPress> keys;
};

// One session of the program's real entry point against a simulated adapter, in virtual
// time, in a temporary program folder of its own.
struct Session {
    std::string scenarioName;  // for the transcript
    std::string scenario;      // the scenario's text
    std::vector<std::string> arguments;
    UserScript user = {};  // lines typed and keys pressed at virtual times
    // The compatibility of a firmware package 1.5.0.0 beside the program.
    std::optional<std::uint8_t> package = std::nullopt;
    int runs = 1;  // the user starts the updater again this many times in all
    // Another program's entry point in place of the updater's; returns its exit code.
    std::function<int(platform::Services&)> entry = {};
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
    std::vector<std::string> logLines;  // of every run log, run after run
    // Each request the adapter received, as "GET_CONFIG seq 2" with " payload 01 02" when it
    // carried one, and when; how many were EXIT.
    std::vector<std::string> requests;
    std::vector<std::uint64_t> requestMs;
    int exits = 0;
    std::uint64_t virtualMs = 0;
    std::size_t linesNotRead = 0;
};

// The text of a scenario file of tests/scenarios.
std::string scenarioText(const std::string& fileName);

// Runs the session; a HID handle left open fails the test.
SessionResult runSession(const Session& session);

}  // namespace velkora::testing
