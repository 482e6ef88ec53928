#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {

// A copy of velkora-updater-demo in a temporary folder of its own, with its firmware package
// and a scenario: the program's folder is where it writes its logs and fault dumps, so every
// test sees only its own files. Each copy also has its own runtime folder for the
// single-instance lock, so that it meets neither the user's updater nor another test.
class DemoCopy {
  public:
    explicit DemoCopy(const std::string& scenarioText);

    const std::filesystem::path& folder() const { return folder_.path(); }
    std::filesystem::path logs() const { return folder() / "logs"; }

    // Starts the demo on the scenario, with the updater's own arguments after it; `terminal`
    // as for ChildProcess.
    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& arguments = {},
                                        bool terminal = false) const;

    // The files in `logs` whose names start with `prefix`, sorted by name, which for the
    // run logs and fault dumps is the order in which they were written.
    std::vector<std::filesystem::path> files(const std::string& prefix) const;

  private:
    TempFolder folder_;
    TempFolder runtime_;
};

// The console text without the demo's note on its error stream and with plain line feeds.
std::string consoleText(std::string output);

}  // namespace velkora::testing
