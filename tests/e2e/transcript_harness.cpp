#include "tests/e2e/transcript_harness.h"

#include <regex>
#include <sstream>

#include "app/entry_point.h"
#include "app/updater_run.h"
#include "sim/scenario_reader.h"
#include "sim/scenario_values.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {
namespace {

using FileSnapshot = std::map<std::string, std::string>;

std::string normalisedName(const std::filesystem::path& relative) {
    static const std::regex stamp("[0-9]{8}_[0-9]{6}");
    return std::regex_replace(relative.generic_string(), stamp, "YYYYMMDD_HHMMSS");
}

FileSnapshot snapshot(const std::filesystem::path& folder) {
    FileSnapshot files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[std::filesystem::relative(entry.path(), folder).generic_string()] =
                readFileText(entry.path());
        }
    }
    return files;
}

// "2026-01-01 00:00:16 text" -> "text". The time stamp is local time; only its shape is
// checked, so that the transcript is the same in every time zone.
std::string withoutTimestamp(std::string line) {
    static const std::regex stamp("^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ");
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    if (std::regex_search(line, stamp)) {
        return line.substr(20);
    }
    return "<no time stamp> " + line;
}

// Paths under the test's temporary program folder read "<program folder>/..." with "/"
// separators, and date and time in file names read YYYYMMDD_HHMMSS, so that a transcript is
// the same on every machine and platform.
std::string withStablePaths(std::string text, const std::string& folder) {
    static const std::regex stamp("[0-9]{8}_[0-9]{6}");
    for (std::size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at)) {
        std::size_t end = at + folder.size();
        while (end < text.size() && text[end] != ' ' && text[end] != '\n') {
            if (text[end] == '\\') {
                text[end] = '/';
            }
            ++end;
        }
        text.replace(at, folder.size(), "<program folder>");
    }
    return std::regex_replace(text, stamp, "YYYYMMDD_HHMMSS");
}

std::vector<std::string> logLines(const std::string& text, const std::string& folder) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(withStablePaths(withoutTimestamp(line), folder));
    }
    return lines;
}

std::string identityName(sim::Identity identity) {
    switch (identity) {
        case sim::Identity::Bootloader:
            return "bootloader ";
        case sim::Identity::Application:
            return "application";
        case sim::Identity::Absent:
            break;
    }
    return "absent     ";
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.insert(0, width - text.size(), ' ');
    }
    return text;
}

// One line per request; a run of the same command (the chunks of a transfer) is one line.
std::string renderRequests(const std::vector<sim::ReceivedRequest>& requests) {
    std::ostringstream out;
    for (std::size_t i = 0; i < requests.size();) {
        std::size_t j = i + 1;
        while (j < requests.size() && requests[j].request.command == requests[i].request.command &&
               requests[j].identity == requests[i].identity) {
            ++j;
        }
        const sim::ReceivedRequest& first = requests[i];
        out << padded(std::to_string(first.at / sim::kMicrosPerMs), 7) << " ms  "
            << identityName(first.identity) << "  "
            << sim::scenario::commandName(first.request.command) << " seq "
            << static_cast<int>(first.request.sequence) << " payload "
            << first.request.payload.size();
        if (j - i > 1) {
            out << "  (and " << (j - i - 1) << " more until "
                << requests[j - 1].at / sim::kMicrosPerMs << " ms)";
        }
        out << "\n";
        i = j;
    }
    return out.str();
}

std::filesystem::path scenarioFolder() {
    return VELKORA_TEST_SCENARIOS;
}

}  // namespace

int runRealEntryPoint(platform::Services& services, const std::vector<std::string>& arguments) {
    std::vector<platform::NativeString> commandLine{platform::fromUtf8("velkora-updater")};
    for (const std::string& argument : arguments) {
        commandLine.push_back(platform::fromUtf8(argument));
    }
    return runEntryPoint(services, commandLine,
                         [&services](bool serviceMode) { runUpdater(services, serviceMode); });
}

TranscriptResult runTranscript(const TranscriptScript& script, const SessionBody& body) {
    TempFolder folder;
    if (script.package) {
        writeFirmwarePackage(folder.path(), *script.package);
    }
    const FileSnapshot before = snapshot(folder.path());
    const std::size_t lineCount = script.user.lines.size();

    TranscriptResult result;
    {
        SimServices sim(folder.path(), sim::readScenarioFile(scenarioFolder() / script.scenario),
                        script.user);
        result.exitCode = body(sim.services(), script.arguments);
        result.printed = sim.printed();
        result.screen = withStablePaths(sim.screen(), platform::toUtf8(folder.path().native()));
        result.requests = sim.adapter().requests();
        result.virtualMs = sim.virtualMs();
        result.openConnections = sim.bus().openConnections();
        result.linesNotRead = lineCount - sim.linesRead();
    }
    for (const auto& [name, content] : snapshot(folder.path())) {
        const auto earlier = before.find(name);
        if (earlier != before.end() && earlier->second == content) {
            continue;
        }
        // Names differ only in their time stamps, which are normalised away: later files of
        // the same kind are numbered in the order of their real names, that is of time.
        std::string shown = normalisedName(name);
        for (int n = 2; result.files.contains(shown); ++n) {
            shown = normalisedName(name) + " #" + std::to_string(n);
        }
        result.files[shown] = content;
        if (name.starts_with("logs/update_") && name.ends_with(".log")) {
            result.logs[shown] = logLines(content, platform::toUtf8(folder.path().native()));
        }
    }
    return result;
}

std::string visible(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n' || c == '\t' || byte >= 0x20) {
            out += c;
        } else if (c == '\r') {
            out += "<CR>";
        } else if (c == '\x1b') {
            out += "<ESC>";
        } else {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += std::string("<0x") + kHex[byte >> 4] + kHex[byte & 0x0F] + ">";
        }
    }
    return out;
}

std::string renderTranscript(const TranscriptScript& script, const TranscriptResult& result) {
    std::ostringstream out;
    out << "Scenario: " << script.scenario << "\n";
    out << "Command line: velkora-updater";
    for (const std::string& argument : script.arguments) {
        out << " " << argument;
    }
    out << "\n";
    if (script.package) {
        out << "Firmware package: " << script.package->version << ", compatibility "
            << static_cast<int>(script.package->compatibility) << "\n";
    }
    out << "Virtual time at the end: " << result.virtualMs << " ms\n";
    out << "\n== Console (typed lines appear after their prompts) ==\n";
    out << visible(result.screen);
    if (!result.screen.empty() && result.screen.back() != '\n') {
        out << "\n";
    }
    out << "== End of console; exit code " << result.exitCode << " ==\n";
    if (result.linesNotRead > 0) {
        out << "(" << result.linesNotRead << " scripted lines were never read)\n";
    }
    for (const auto& [name, lines] : result.logs) {
        out << "\n== Run log " << name << " ==\n";
        for (const std::string& line : lines) {
            out << visible(line) << "\n";
        }
    }
    out << "\n== Files written ==\n";
    // A run log's lines are shown above; its size depends on the platform's line ends.
    for (const auto& [name, content] : result.files) {
        if (result.logs.contains(name)) {
            out << name << " (the run log above)\n";
            continue;
        }
        out << name << " (" << content.size() << " bytes)\n" << visible(content);
        if (!content.empty() && content.back() != '\n') {
            out << "\n";
        }
    }
    out << "\n== Requests the adapter received ==\n" << renderRequests(result.requests);
    out << "\n== HID connections still open at the end: " << result.openConnections << " ==\n";
    return out.str();
}

}  // namespace velkora::testing
