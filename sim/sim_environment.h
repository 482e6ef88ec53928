#pragma once

#include <cstdint>
#include <ctime>
#include <memory>

#include "sim/adapter_profile.h"
#include "sim/sim_clock.h"
#include "sim/simulated_adapter.h"
#include "sim/simulated_bus.h"
#include "sim/timeline.h"

namespace velkora::sim {

struct SimOptions {
    Timeline::Mode mode = Timeline::Mode::Virtual;
    std::uint64_t tickStartMs = 1000;        // where the updater's tick counts begin
    std::time_t calendarStart = 1767225600;  // 2026-01-01 00:00:00 UTC, virtual mode only
};

// One simulated adapter on its bus, with the clock that shares its time base: what a test or
// the demo program puts behind the platform seam in place of the clock and the HID bus.
class SimEnvironment {
  public:
    explicit SimEnvironment(const AdapterProfile& profile, SimOptions options = {});

    Timeline& timeline() { return timeline_; }
    SimClock& clock() { return clock_; }
    SimulatedAdapter& adapter() { return adapter_; }
    SimulatedBus& bus() { return bus_; }

  private:
    Timeline timeline_;
    SimClock clock_;
    SimulatedAdapter adapter_;
    SimulatedBus bus_;
};

}  // namespace velkora::sim
