#include <exception>
#include <iostream>
#include <vector>

#include "app/entry_point.h"
#include "app/updater_run.h"
#include "platform/services.h"
#include "sim/demo/demo_arguments.h"
#include "sim/scenario_reader.h"
#include "sim/sim_environment.h"

namespace {

using velkora::platform::NativeString;

// The updater as a new user first meets it: its own entry point, run and texts, with the
// simulated adapter of a scenario file in place of the HID bus, in real time. The adapter
// plugs in a little while after the updater starts waiting for it.
int demoMain(const std::vector<NativeString>& arguments) {
    std::cout.setf(std::ios::unitbuf);
    const velkora::sim::DemoArguments demo = velkora::sim::splitDemoArguments(arguments);
    if (!demo.error.empty()) {
        std::cerr << "velkora-updater-demo: " << demo.error
                  << "\nUsage: velkora-updater-demo [--scenario FILE] [--service]\n";
        return 1;
    }
    velkora::platform::Host& host = velkora::platform::systemHost();
    velkora::sim::AdapterProfile profile;
    std::filesystem::path scenario;
    try {
        scenario =
            demo.scenario ? *demo.scenario : host.programFolder() / "scenarios" / "default.scn";
        profile = velkora::sim::readScenarioFile(scenario);
    } catch (const std::exception& error) {
        std::cerr << "velkora-updater-demo: " << error.what() << "\n";
        return 1;
    }
    // Said on the error stream, so that the console dialogue is the updater's own.
    std::cerr << "velkora-updater-demo: simulated Velkora from "
              << velkora::platform::toUtf8(scenario.native()) << "\n";

    velkora::sim::SimEnvironment sim(profile, {velkora::sim::Timeline::Mode::RealTime, 0, 0});
    // The simulated bus keeps 1 ms frames; on Windows that needs the precise timer throughout.
    velkora::platform::PreciseSleepScope preciseSleep(sim.clock());
    velkora::platform::Services services{
        sim.clock(), sim.bus(), velkora::platform::systemConsoleKeys(), host, std::cin, std::cout};
    return velkora::runEntryPoint(services, demo.forwarded, [&services](bool serviceMode) {
        velkora::runUpdater(services, serviceMode);
    });
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return demoMain(std::vector<NativeString>(argv, argv + argc));
}
#else
int main(int argc, char** argv) {
    return demoMain(std::vector<NativeString>(argv, argv + argc));
}
#endif
