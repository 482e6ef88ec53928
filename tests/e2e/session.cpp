#include "tests/e2e/session.h"

#include <cstdlib>
#include <regex>
#include <sstream>

#include "app/common/text.h"
#include "app/entry_point.h"
#include "app/updater_run.h"
#include "platform/sha256.h"
#include "sim/scenario_reader.h"
#include "sim/scenario_values.h"
#include "tests/support/test_files.h"

namespace velkora::testing {
namespace {

using Files = std::map<std::string, std::string>;

Files snapshot(const std::filesystem::path& folder) {
    Files files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files[std::filesystem::relative(entry.path(), folder).generic_string()] =
                readFileText(entry.path());
        }
    }
    return files;
}

// Paths in the program folder read "<program folder>/..." with "/" separators and date and
// time in file names read YYYYMMDD_HHMMSS, so that a transcript is the same on every machine.
std::string withStablePaths(std::string text, const std::string& folder) {
    for (std::size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at)) {
        for (std::size_t end = at + folder.size(); end < text.size() && text[end] > ' '; ++end) {
            text[end] = text[end] == '\\' ? '/' : text[end];
        }
        text.replace(at, folder.size(), "<program folder>");
    }
    static const std::regex stamp("[0-9]{8}_[0-9]{6}");
    return std::regex_replace(text, stamp, "YYYYMMDD_HHMMSS");
}

void writePackage(const std::filesystem::path& programFolder, const PackageProfile& profile) {
    std::string image = "VELKORA-SIM-IMAGE compatibility=" + formatHexByte(profile.compatibility) +
                        " version=" + profile.version + "\n";
    for (std::size_t i = 0; image.size() < profile.bytes; ++i) {
        image += static_cast<char>('a' + i % 26);
    }
    platform::Sha256 hash;
    hash.update({reinterpret_cast<const std::uint8_t*>(image.data()), image.size()});
    const std::string name = "velkora_" + profile.version + ".sfb";
    std::filesystem::create_directories(programFolder / "firmware");
    writeFileText(programFolder / "firmware" / name, image);
    writeFileText(programFolder / "firmware" / "update_manifest.json",
                  R"({"package_format": "zuq_hid_sbsfu_update", "product": "ZUQ", )"
                  R"("firmware_version": ")" +
                      profile.version + R"(", "sfb_file": ")" + name + R"(", "sfb_sha256": ")" +
                      formatHexBytes(hash.finish()) + R"(", "package_compatibility": ")" +
                      formatHexByte(profile.compatibility) + "\"}\n");
}

int runEntryPoint(platform::Services& services, const std::vector<std::string>& arguments) {
    std::vector<platform::NativeString> commandLine{platform::fromUtf8("velkora-updater")};
    for (const std::string& argument : arguments) {
        commandLine.push_back(platform::fromUtf8(argument));
    }
    return velkora::runEntryPoint(services, commandLine, [&services](bool serviceMode) {
        runUpdater(services, serviceMode);
    });
}

}  // namespace

std::string scenarioText(const std::string& fileName) {
    return readFileText(std::filesystem::path(VELKORA_TEST_SCENARIOS) / fileName);
}

SessionResult runSession(const Session& session) {
    TempFolder folder;
    if (session.package) {
        writePackage(folder.path(), *session.package);
    }
    const Files before = snapshot(folder.path());
    const std::string folderText = platform::toUtf8(folder.path().native());
    SessionResult result;
    {
        SimServices sim(folder.path(), sim::parseScenario(session.scenario, session.scenarioName),
                        session.user);
        for (int run = 0; run < session.runs; ++run) {
            if (run > 0) {
                sim.services().out << "\n[the user starts the updater again]\n";
            }
            result.exitCodes.push_back(runEntryPoint(sim.services(), session.arguments));
        }
        result.printed = sim.printed();
        result.screen = withStablePaths(sim.screen(), folderText);
        result.requests = sim.adapter().requests();
        result.virtualMs = sim.virtualMs();
        result.openConnections = sim.bus().openConnections();
        result.linesNotRead = session.user.lines.size() - sim.linesRead();
    }
    static const std::regex stamp("[0-9]{8}_[0-9]{6}");
    for (const auto& [name, content] : snapshot(folder.path())) {
        if (before.contains(name) && before.at(name) == content) {
            continue;
        }
        // Names sort by time; a later file of the same kind gets a number.
        const std::string stable = std::regex_replace(name, stamp, "YYYYMMDD_HHMMSS");
        std::string shown = stable;
        for (int n = 2; result.files.contains(shown); ++n) {
            shown = stable + " #" + std::to_string(n);
        }
        result.files[shown] = content;
        if (name.starts_with("logs/update_")) {
            for (const std::string& line : logLinesOf(content)) {
                result.logs[shown].push_back(withStablePaths(line, folderText));
            }
        }
    }
    return result;
}

std::vector<std::string> allLogLines(const SessionResult& result) {
    std::vector<std::string> all;
    for (const auto& [name, lines] : result.logs) {
        all.insert(all.end(), lines.begin(), lines.end());
    }
    return all;
}

std::vector<std::string> requestLines(const SessionResult& result) {
    std::vector<std::string> lines;
    for (const sim::ReceivedRequest& received : result.requests) {
        std::string line = std::string(sim::scenario::commandName(received.request.command)) +
                           " seq " + std::to_string(received.request.sequence);
        if (!received.request.payload.empty()) {
            line += " payload";
            for (const std::uint8_t byte : received.request.payload) {
                line += " " + formatHexByte(byte).substr(2);
            }
        }
        lines.push_back(line);
    }
    return lines;
}

int exitRequests(const SessionResult& result) {
    return static_cast<int>(std::count_if(
        result.requests.begin(), result.requests.end(), [](const sim::ReceivedRequest& received) {
            return sim::scenario::commandName(received.request.command) == "EXIT";
        }));
}

std::string visible(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n' || c == '\t' || static_cast<unsigned char>(c) >= 0x20) {
            out += c;
        } else {
            out += c == '\r'     ? "<CR>"
                   : c == '\x1b' ? "<ESC>"
                                 : "<" + formatHexByte(static_cast<std::uint8_t>(c)) + ">";
        }
    }
    return out;
}

std::string renderTranscript(const Session& session, const SessionResult& result) {
    std::ostringstream out;
    out << "Scenario: " << session.scenarioName << "\nCommand line: velkora-updater";
    for (const std::string& argument : session.arguments) {
        out << " " << argument;
    }
    if (session.package) {
        out << "\nFirmware package: " << session.package->version << ", compatibility "
            << static_cast<int>(session.package->compatibility);
    }
    out << "\nVirtual time at the end: " << result.virtualMs << " ms\n"
        << "\n== Console (typed lines appear after their prompts) ==\n"
        << visible(result.screen) << (result.screen.ends_with('\n') ? "" : "\n")
        << "== End of console; exit codes";
    for (const int code : result.exitCodes) {
        out << " " << code;
    }
    out << " ==\n";
    for (const auto& [name, lines] : result.logs) {
        out << "\n== Run log " << name << " ==\n";
        for (const std::string& line : lines) {
            out << visible(line) << "\n";
        }
    }
    out << "\n== Other files written ==\n";
    for (const auto& [name, content] : result.files) {
        if (!result.logs.contains(name)) {
            out << name << " (" << content.size() << " bytes)\n"
                << visible(content) << (content.ends_with('\n') ? "" : "\n");
        }
    }
    // A run of the same command, the chunks of a transfer, is one line.
    out << "\n== Requests the adapter received ==\n";
    const std::vector<std::string> requests = requestLines(result);
    for (std::size_t i = 0; i < requests.size();) {
        const std::string command = requests[i].substr(0, requests[i].find(' '));
        std::size_t j = i + 1;
        while (j < requests.size() && requests[j].starts_with(command + " ")) {
            ++j;
        }
        out << std::to_string(result.requests[i].at / sim::kMicrosPerMs) << " ms "
            << requests[i].substr(0, requests[i].find(" payload"))
            << (j - i > 1 ? " and " + std::to_string(j - i - 1) + " more" : "") << "\n";
        i = j;
    }
    return out.str();
}

::testing::AssertionResult matchesGolden(const std::string& name, const std::string& actual) {
    const std::filesystem::path path =
        std::filesystem::path(VELKORA_TEST_DATA) / "golden" / (name + ".txt");
    const char* update = std::getenv("VELKORA_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        writeFileText(path, actual);
        return ::testing::AssertionSuccess();
    }
    const std::string expected = readFileText(path);
    if (expected == actual) {
        return ::testing::AssertionSuccess();
    }
    // The first line that differs, with the lines before it; the whole actual transcript
    // follows for a diff (VELKORA_UPDATE_GOLDEN=1 rewrites the file, git diff shows it).
    std::size_t line = 1;
    std::size_t at = 0;
    for (; at < std::min(expected.size(), actual.size()) && expected[at] == actual[at]; ++at) {
        line += expected[at] == '\n' ? 1u : 0u;
    }
    return ::testing::AssertionFailure()
           << path.generic_string() << " differs from line " << line << " on:\n"
           << actual.substr(actual.rfind('\n', at) + 1, 300);
}

}  // namespace velkora::testing
