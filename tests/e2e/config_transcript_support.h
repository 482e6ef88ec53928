#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/sim_services.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {

// The editor's menu line with the prompt after it.
inline const std::string kConfigMenu =
    "Configuration: 1 Change item  2 Restore defaults  3 Store  4 Exit without storing\n"
    "Selection: ";

// The staged view as the editor prints it, from its lines ("3. Ramp rate: Safe *").
inline std::string stagedView(const std::vector<std::string>& lines) {
    std::string view = "\nStaged configuration (* = unstored change):\n";
    for (const std::string& line : lines) {
        view += line + "\n";
    }
    return view + "\n";
}

// The items of an adapter as config_adapter.scn and the demo's default scenario store them.
inline const std::vector<std::string> kStoredItems{"1. Redriver level: One",
                                                   "2. LED mode: Default",
                                                   "3. Ramp rate: Aggressive8",
                                                   "4. Ramp mode: Full",
                                                   "5. Small-bus switch: WaitWithTimeout",
                                                   "6. Hot swap: Enabled",
                                                   "7. Samsung recovery: Disabled",
                                                   "8. PD3 follower: Enabled",
                                                   "9. PPS: Enabled"};

// The item lines with the line of item `id` replaced.
inline std::vector<std::string> withLine(std::vector<std::string> lines, std::size_t id,
                                         std::string line) {
    lines[id - 1] = std::move(line);
    return lines;
}

// Lines typed ahead: each is there when the program asks for it; after the last the console
// input is closed.
inline UserScript typedAtOnce(const std::vector<std::string>& lines) {
    UserScript script;
    for (const std::string& line : lines) {
        script.lines.push_back({0, line});
    }
    return script;
}

// A scenario of tests/scenarios with more settings (a row's faults, say) added at its end,
// written into `folder`. Returns its absolute path, which the transcript harness takes in
// place of a name in tests/scenarios.
inline std::string scenarioWithExtra(const TempFolder& folder, const std::string& base,
                                     const std::string& extra) {
    const std::filesystem::path file = folder.path() / base;
    writeFileText(
        file, readFileText(std::filesystem::path(VELKORA_TEST_SCENARIOS) / base) + "\n" + extra);
    return file.string();
}

}  // namespace velkora::testing
