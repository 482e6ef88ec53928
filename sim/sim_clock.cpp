#include "sim/sim_clock.h"

namespace velkora::sim {

SimClock::SimClock(Timeline& timeline, std::uint64_t tickStartMs, std::time_t calendarStart)
    : timeline_(timeline), tickStartMs_(tickStartMs), calendarStart_(calendarStart) {}

std::uint64_t SimClock::tickCount64() {
    return tickStartMs_ + timeline_.now() / kMicrosPerMs;
}

void SimClock::sleepMs(std::uint32_t milliseconds) {
    timeline_.sleepUntil(timeline_.now() + fromMs(milliseconds));
}

std::time_t SimClock::calendarTime() {
    if (timeline_.mode() == Timeline::Mode::RealTime) {
        return platform::systemClock().calendarTime();
    }
    return calendarStart_ + static_cast<std::time_t>(timeline_.now() / 1000000u);
}

// In real time the simulated device's millisecond pauses are real sleeps, which need the
// system's precise timer as much as the updater's own.
void SimClock::beginPreciseSleep() {
    if (timeline_.mode() == Timeline::Mode::RealTime) {
        platform::systemClock().beginPreciseSleep();
    }
}

void SimClock::endPreciseSleep() {
    if (timeline_.mode() == Timeline::Mode::RealTime) {
        platform::systemClock().endPreciseSleep();
    }
}

}  // namespace velkora::sim
