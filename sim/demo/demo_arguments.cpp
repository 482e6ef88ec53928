#include "sim/demo/demo_arguments.h"

namespace velkora::sim {

DemoArguments splitDemoArguments(const std::vector<platform::NativeString>& arguments) {
    DemoArguments result;
    const platform::NativeString option = platform::fromUtf8("--scenario");
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i == 0 || arguments[i] != option) {
            result.forwarded.push_back(arguments[i]);
            continue;
        }
        if (i + 1 == arguments.size()) {
            result.error = "--scenario needs the name of a scenario file.";
        } else if (result.scenario) {
            result.error = "--scenario may be given only once.";
            ++i;  // its file name is not an argument for the updater either
        } else {
            result.scenario = std::filesystem::path(arguments[++i]);
        }
    }
    return result;
}

}  // namespace velkora::sim
