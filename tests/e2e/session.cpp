#include "tests/e2e/session.h"

#include <gtest/gtest.h>

#include <regex>

#include "app/entry_point.h"
#include "app/updater_run.h"
#include "common/text.h"
#include "platform/sha256.h"
#include "sim/scenario_reader.h"
#include "sim/scenario_values.h"
#include "sim/sim_environment.h"
#include "sim/simulated_adapter.h"
#include "tests/support/fake_services.h"
#include "tests/support/test_files.h"

namespace velkora::testing {
namespace {

using Files = std::map<std::string, std::string>;
const std::regex kStamp("[0-9]{8}_[0-9]{6}");

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
    return std::regex_replace(text, kStamp, "YYYYMMDD_HHMMSS");
}

// A firmware package as the build makes one for the demo, in ten chunks: its image starts
// with the simulator's header line, so that an installed image reports its version.
void writePackage(const std::filesystem::path& folder, std::uint8_t compatibility) {
    const std::string hex = formatHexByte(compatibility);
    std::string image = "VELKORA-SIM-IMAGE compatibility=" + hex + " version=1.5.0.0\n";
    for (std::size_t i = 0; image.size() < 510; ++i) {
        image += static_cast<char>('a' + i % 26);
    }
    platform::Sha256 hash;
    hash.update({reinterpret_cast<const std::uint8_t*>(image.data()), image.size()});
    std::filesystem::create_directories(folder / "firmware");
    writeFileText(folder / "firmware" / "velkora_1.5.0.0.sfb", image);
    writeFileText(folder / "firmware" / "update_manifest.json",
                  R"({"package_format": "zuq_hid_sbsfu_update", "product": "ZUQ", )"
                  R"("firmware_version": "1.5.0.0", "sfb_file": "velkora_1.5.0.0.sfb", )"
                  R"("sfb_sha256": ")" +
                      formatHexBytes(hash.finish()) + R"(", "package_compatibility": ")" + hex +
                      "\"}\n");
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
    std::vector<platform::NativeString> commandLine{platform::fromUtf8("velkora-updater")};
    for (const std::string& argument : session.arguments) {
        commandLine.push_back(platform::fromUtf8(argument));
    }
    SessionResult result;
    {
        // The simulated adapter, clock and user in virtual time; a run that waits for something
        // that never comes ends with a failure after two virtual hours instead of spinning on.
        sim::SimEnvironment sim(sim::parseScenario(session.scenario, session.scenarioName));
        sim::ScriptedKeys keys(sim.timeline(), session.user.keys);
        sim::ScreenCapture screen;
        sim::ScriptedConsoleInput input(sim.timeline(), session.user.lines, &screen);
        std::istream in(&input);
        std::ostream out(&screen);
        FakeHost host(folder.path());
        platform::Services services{sim.clock(), sim.bus(), keys, host, in, out};
        sim.timeline().setVirtualLimit(sim::fromMs(2 * 60 * 60 * 1000));
        for (int run = 0; run < session.runs; ++run) {
            if (run > 0) {
                out << "\n[the user starts the updater again]\n";
            }
            result.exitCodes.push_back(
                session.entry ? session.entry(services)
                              : runEntryPoint(services, commandLine, [&](bool service) {
                                    runUpdater(services, service);
                                }));
        }
        result.printed = screen.printed();
        result.screen = withStablePaths(screen.screen(), folderText);
        for (const sim::ReceivedRequest& received : sim.adapter().requests()) {
            const std::string command(sim::scenario::commandName(received.request.command));
            std::string line = command + " seq " + std::to_string(received.request.sequence) +
                               (received.request.payload.empty() ? "" : " payload");
            for (const std::uint8_t byte : received.request.payload) {
                line += " " + formatHexByte(byte).substr(2);
            }
            result.requests.push_back(line);
            result.requestMs.push_back(received.at / sim::kMicrosPerMs);
            result.exits += command == "EXIT" ? 1 : 0;
        }
        result.virtualMs = sim.timeline().now() / sim::kMicrosPerMs;
        EXPECT_EQ(sim.bus().openConnections(), 0u) << "every HID handle is closed on the way out";
        result.linesNotRead = session.user.lines.size() - input.linesRead();
    }
    for (const auto& [name, content] : snapshot(folder.path())) {
        if (before.contains(name) && before.at(name) == content) {
            continue;
        }
        // Names sort by time; a later file of the same kind gets a number.
        const std::string stable = std::regex_replace(name, kStamp, "YYYYMMDD_HHMMSS");
        std::string shown = stable;
        for (int n = 2; result.files.contains(shown); ++n) {
            shown = stable + " #" + std::to_string(n);
        }
        result.files[shown] = content;
        if (name.starts_with("logs/update_")) {
            for (const std::string& line : logLinesOf(content)) {
                result.logs[shown].push_back(withStablePaths(line, folderText));
                result.logLines.push_back(result.logs[shown].back());
            }
        }
    }
    return result;
}

}  // namespace velkora::testing
