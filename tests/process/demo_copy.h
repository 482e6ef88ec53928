#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {

// A copy of velkora-updater-demo in a temporary folder of its own, with its firmware package
// and a scenario, so that every test sees only its own logs; each copy also has its own
// runtime folder for the single-instance lock.
class DemoCopy {
  public:
    explicit DemoCopy(const std::string& scenarioText);

    // Starts the demo on its scenario; `terminal` as for ChildProcess.
    std::unique_ptr<ChildProcess> start(bool terminal = false) const;

    // The files in logs/ whose names start with `prefix`, sorted by name, which for run logs
    // and fault dumps is the order in which they were written.
    std::vector<std::filesystem::path> files(const std::string& prefix) const;

  private:
    TempFolder folder_;
    TempFolder runtime_;
};

// The console text with plain line feeds and without the demo's note on its error stream.
std::string consoleText(std::string output);

}  // namespace velkora::testing
