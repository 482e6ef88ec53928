#pragma once

#include <cstdint>
#include <ctime>

#include "platform/clock.h"
#include "sim/timeline.h"

namespace velkora::sim {

// The updater's clock on the simulation's time base: every sleep lets the device's events run
// in time order. The tick counts start at a chosen value so that tests can let the 32-bit
// count wrap in the middle of an exchange, as GetTickCount does after 49.7 days.
class SimClock final : public platform::Clock {
  public:
    // The calendar time starts at `calendarStart` in virtual mode and is the system's in
    // real-time mode.
    SimClock(Timeline& timeline, std::uint64_t tickStartMs, std::time_t calendarStart);

    std::uint32_t tickCount32() override { return static_cast<std::uint32_t>(tickCount64()); }
    std::uint64_t tickCount64() override;
    void sleepMs(std::uint32_t milliseconds) override;
    std::time_t calendarTime() override;
    void beginPreciseSleep() override;
    void endPreciseSleep() override;

  private:
    Timeline& timeline_;
    std::uint64_t tickStartMs_;
    std::time_t calendarStart_;
};

}  // namespace velkora::sim
