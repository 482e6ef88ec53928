#include "tests/process/demo_copy.h"

#include <algorithm>

namespace velkora::testing {

DemoCopy::DemoCopy(const std::string& scenarioText) {
    namespace fs = std::filesystem;
    fs::copy_file(builtDemoFolder() / kDemoProgramName, folder_.path() / kDemoProgramName);
    fs::copy(builtDemoFolder() / "firmware", folder_.path() / "firmware",
             fs::copy_options::recursive);
    writeFileText(folder_.path() / "scenario.scn", scenarioText);
}

std::unique_ptr<ChildProcess> DemoCopy::start(bool terminal) const {
    return std::make_unique<ChildProcess>(
        folder_.path() / kDemoProgramName,
        std::vector<std::string>{"--scenario", (folder_.path() / "scenario.scn").string()},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime_.path().string()}, terminal);
}

std::vector<std::filesystem::path> DemoCopy::files(const std::string& prefix) const {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path() / "logs", error)) {
        if (entry.path().filename().string().starts_with(prefix)) {
            found.push_back(entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string consoleText(std::string output) {
    std::erase(output, '\r');
    if (output.starts_with("velkora-updater-demo:")) {
        output.erase(0, output.find('\n') + 1);
    }
    return output;
}

}  // namespace velkora::testing
