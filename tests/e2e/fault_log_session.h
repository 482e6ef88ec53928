#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/scenario_values.h"
#include "tests/e2e/transcript_harness.h"
#include "tests/support/temp_folder.h"

// Helpers for the fault-log mode's end-to-end tests: a session of the real program against an
// adapter written inline in the test, and the parts of its result that one row of a table
// looks at. Header-only, since the end-to-end suite compiles only its *_test.cpp files.
namespace velkora::testing::fault_log {

// A healthy adapter whose fault log is empty: the begin marker, "000" and the end marker.
inline constexpr const char* kHealthyAdapter = "";

// The program's real entry point with the scenario given as text. The text is written to a
// file of its own, since the harness reads scenarios from files; an absolute path replaces
// the harness's scenario folder when the two are joined.
inline TranscriptResult runWithScenario(const std::string& scenarioText,
                                        std::vector<std::string> arguments, UserScript user,
                                        const SessionBody& body = runRealEntryPoint) {
    TempFolder folder;
    const std::filesystem::path file = folder.path() / "row.scn";
    writeFileText(file, scenarioText);
    return runTranscript(
        TranscriptScript{file.string(), std::move(arguments), std::move(user), std::nullopt}, body);
}

// The menu choices and answers of one session, all typed at once: the program reads each
// line when it asks for one.
inline UserScript typed(const std::vector<std::string>& lines) {
    UserScript user;
    for (const std::string& line : lines) {
        user.lines.push_back({0, line});
    }
    return user;
}

// What the console shows of fault-log mode: from "Starting fault-log mode..." to the end of
// the mode's own text, that is "Returning to adapter detection..." and its blank line after a
// normal end, or the closing message and "Press Enter to close." after a failure.
inline std::string modeConsole(const std::string& printed) {
    const std::size_t start = printed.find("Starting fault-log mode...");
    if (start == std::string::npos) {
        return "(fault-log mode never started)\n" + printed;
    }
    constexpr std::string_view kReturning = "Returning to adapter detection...\n\n";
    const std::size_t returning = printed.find(kReturning, start);
    if (returning != std::string::npos) {
        return printed.substr(start, returning + kReturning.size() - start);
    }
    return printed.substr(start);
}

// The first run log's lines from the hand-over on: those after the run's last line before
// the menu, the application's compatibility value.
inline std::vector<std::string> modeLog(const TranscriptResult& result) {
    if (result.logs.empty()) {
        return {"(no run log)"};
    }
    const std::vector<std::string>& lines = result.logs.begin()->second;
    for (auto line = lines.begin(); line != lines.end(); ++line) {
        if (line->starts_with("app compatibility=")) {
            return {line + 1, lines.end()};
        }
    }
    return lines;
}

// The requests of the hand-over and of the mode, "START_APP_USB 4", "FAULT_DUMP 1", ...:
// everything the adapter received from START_APP_USB on, in the first run only (the next
// run begins with GET_INFO again).
inline std::vector<std::string> modeRequests(const TranscriptResult& result) {
    std::vector<std::string> requests;
    bool started = false;
    for (const sim::ReceivedRequest& received : result.requests) {
        const std::string name = sim::scenario::commandName(received.request.command);
        if (name == "START_APP_USB") {
            started = true;
        } else if (started && name == "GET_INFO") {
            break;
        }
        if (started) {
            requests.push_back(name + " " + std::to_string(received.request.sequence));
        }
    }
    return requests;
}

// The fault-dump files the session saved, in the order they were written.
inline std::vector<std::string> savedFaultLogs(const TranscriptResult& result) {
    std::vector<std::string> saved;
    for (const auto& [name, content] : result.files) {
        if (name.starts_with("logs/fault_dump_")) {
            saved.push_back(content);
        }
    }
    return saved;
}

// The fault log text as the console shows it: between "Reading fault log..." and its blank
// line, and whatever comes after the text (a prompt, "Returning to ...").
inline std::string printedFaultLog(const std::string& printed) {
    constexpr std::string_view kReading = "Reading fault log...\n\n";
    const std::size_t start = printed.find(kReading);
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t from = start + kReading.size();
    std::size_t end = from;
    // The text's lines all end in CR LF; the first line that does not is no longer part of it.
    while (end < printed.size()) {
        const std::size_t lineEnd = printed.find('\n', end);
        if (lineEnd == std::string::npos || lineEnd == end || printed[lineEnd - 1] != '\r') {
            break;
        }
        end = lineEnd + 1;
    }
    return printed.substr(from, end - from);
}

}  // namespace velkora::testing::fault_log
