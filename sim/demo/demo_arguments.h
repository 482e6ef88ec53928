#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/native_string.h"

namespace velkora::sim {

// The demo's command line: its own option "--scenario FILE" taken out, everything else left
// for the updater's entry point in its order, the program's name first.
struct DemoArguments {
    std::vector<platform::NativeString> forwarded;
    std::optional<std::filesystem::path> scenario;
    std::string error;  // set when the command line cannot be used
};

DemoArguments splitDemoArguments(const std::vector<platform::NativeString>& arguments);

}  // namespace velkora::sim
