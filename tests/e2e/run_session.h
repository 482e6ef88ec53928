#pragma once

// Helpers of the updater-run tables: a whole session of the real program against an adapter
// that each table row describes inline, and short forms of what the session left behind, so
// that a row can state its expectations exactly and still be read at a glance.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/scenario_values.h"
#include "tests/e2e/transcript_harness.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing::run {

// The main menu as the run prints it, with and without the configuration choice.
inline const std::string kMenuHead =
    "Select an option:\n"
    "1. Update firmware\n"
    "2. View fault log\n"
    "3. Start device\n"
    "4. Exit and leave device in bootloader\n"
    "5. Restart updater\n";
inline const std::string kMenuOfSix = kMenuHead + "6. Configuration\nSelection: ";
inline const std::string kMenuOfFive = kMenuHead + "Selection: ";

inline const std::string kWaitText = "Waiting for Velkora. Press Q or Esc to cancel.\n";
inline const std::string kFoundText =
    "\nVelkora HID bootloader found. Securing firmware update mode...\n";
inline const std::string kPressEnter = "\nPress Enter to close.";

// The session with the scenario text written to a file of its own for the run.
inline TranscriptResult runSession(const std::string& scenarioText, UserScript user,
                                   std::optional<FirmwarePackageProfile> package,
                                   std::vector<std::string> arguments = {},
                                   const SessionBody& body = runRealEntryPoint) {
    TempFolder folder;
    const std::filesystem::path file = folder.path() / "row.scn";
    writeFileText(file, scenarioText);
    // An absolute scenario path replaces the harness's scenario folder.
    const TranscriptScript script{file.string(), std::move(arguments), std::move(user),
                                  std::move(package)};
    return runTranscript(script, body);
}

// The console text from the first appearance of `marker` on, without the marker; the whole
// text prefixed with "<marker missing>" when it never appears, so that a failure shows it.
inline std::string printedAfter(const TranscriptResult& result, std::string_view marker) {
    const std::size_t at = result.printed.find(marker);
    if (at == std::string::npos) {
        return "<marker missing> " + result.printed;
    }
    return result.printed.substr(at + marker.size());
}

// The lines of the session's only run log.
inline std::vector<std::string> onlyLog(const TranscriptResult& result) {
    EXPECT_EQ(result.logs.size(), 1u) << "one run, one run log";
    return result.logs.empty() ? std::vector<std::string>{} : result.logs.begin()->second;
}

// The lines after the first line that starts with `prefix`.
inline std::vector<std::string> linesAfter(const std::vector<std::string>& lines,
                                           std::string_view prefix) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].starts_with(prefix)) {
            return {lines.begin() + static_cast<std::ptrdiff_t>(i) + 1, lines.end()};
        }
    }
    return {"<no line starts with " + std::string(prefix) + ">"};
}

// The lines a run writes after its start and package check, that is from the device wait on.
inline std::vector<std::string> afterPackageCheck(const std::vector<std::string>& lines) {
    std::vector<std::string> rest;
    for (const std::string& line : lines) {
        const bool preamble =
            rest.empty() && (line.starts_with("Velkora Firmware Updater ") ||
                             line.starts_with("OS version ") || line == "service mode enabled" ||
                             line.starts_with("package ") || line.starts_with("firmware package "));
        if (!preamble) {
            rest.push_back(line);
        }
    }
    return rest;
}

// The requests as "COMMAND seq", a run of one command as "COMMAND first-last".
inline std::vector<std::string> requestSummary(const TranscriptResult& result) {
    std::vector<std::string> summary;
    const auto& requests = result.requests;
    for (std::size_t i = 0; i < requests.size();) {
        std::size_t j = i + 1;
        while (j < requests.size() && requests[j].request.command == requests[i].request.command) {
            ++j;
        }
        std::string line = sim::scenario::commandName(requests[i].request.command) + " " +
                           std::to_string(requests[i].request.sequence);
        if (j - i > 1) {
            line += "-" + std::to_string(requests[j - 1].request.sequence);
        }
        summary.push_back(line);
        i = j;
    }
    return summary;
}

// When the adapter received the last request with this command, in virtual milliseconds.
inline std::uint64_t lastRequestMs(const TranscriptResult& result, std::string_view command) {
    std::uint64_t at = 0;
    bool seen = false;
    for (const sim::ReceivedRequest& request : result.requests) {
        if (sim::scenario::commandName(request.request.command) == command) {
            at = request.at / sim::kMicrosPerMs;
            seen = true;
        }
    }
    EXPECT_TRUE(seen) << command << " was never sent";
    return at;
}

}  // namespace velkora::testing::run
