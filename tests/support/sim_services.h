#pragma once

#include <filesystem>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "platform/services.h"
#include "sim/scripted_console.h"
#include "sim/scripted_keys.h"
#include "sim/sim_environment.h"
#include "tests/support/fake_services.h"

namespace velkora::testing {

// What the user does during a simulated run: lines typed and keys pressed at virtual times.
struct UserScript {
    std::vector<sim::ConsoleLine> lines;
    std::vector<sim::KeyPress> keys;
};

// The updater's surroundings with a simulated adapter in virtual time: the simulator's clock
// and HID bus, scripted keys and console lines, captured console output, and a host whose
// program folder is the test's folder. A run that waits for something that never comes ends
// with a failure after two virtual hours instead of spinning on.
class SimServices {
  public:
    SimServices(const std::filesystem::path& programFolder, const sim::AdapterProfile& profile,
                UserScript script = {});

    platform::Services& services() { return services_; }
    sim::SimulatedAdapter& adapter() { return sim_.adapter(); }
    sim::SimulatedBus& bus() { return sim_.bus(); }

    // The console output exactly as printed, and as a terminal shows it with the typed lines.
    const std::string& printed() const { return screen_.printed(); }
    const std::string& screen() const { return screen_.screen(); }
    std::uint64_t virtualMs() { return sim_.timeline().now() / sim::kMicrosPerMs; }
    std::size_t linesRead() const { return input_.linesRead(); }

    FakeHost host;

  private:
    sim::SimEnvironment sim_;
    sim::ScriptedKeys keys_;
    sim::ScreenCapture screen_;
    sim::ScriptedConsoleInput input_;
    std::istream in_;
    std::ostream out_;
    platform::Services services_;
};

}  // namespace velkora::testing
