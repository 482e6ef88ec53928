#include "sim/timeline.h"

#include <algorithm>
#include <string>
#include <thread>

namespace velkora::sim {

Timeline::Timeline(Mode mode) : mode_(mode), origin_(std::chrono::steady_clock::now()) {}

Micros Timeline::now() const {
    if (mode_ == Mode::Virtual) {
        return virtualNow_;
    }
    const auto elapsed = std::chrono::steady_clock::now() - origin_;
    return static_cast<Micros>(
        std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
}

void Timeline::schedule(Micros at, std::function<void()> action) {
    events_.push(Event{at, nextOrder_++, std::move(action)});
}

void Timeline::runDue() {
    while (!events_.empty() && events_.top().at <= now()) {
        // The action may schedule further events, so it is taken off the queue first.
        std::function<void()> action = events_.top().action;
        events_.pop();
        action();
    }
}

void Timeline::moveTo(Micros target) {
    if (mode_ == Mode::Virtual) {
        if (target > limit_) {
            throw SimulationTimeLimit("The simulation ran past its time limit of " +
                                      std::to_string(limit_ / kMicrosPerMs) + " ms.");
        }
        virtualNow_ = std::max(virtualNow_, target);
        return;
    }
    const Micros current = now();
    if (target > current) {
        std::this_thread::sleep_for(std::chrono::microseconds(target - current));
    }
}

bool Timeline::waitUntil(Micros deadline, const std::function<bool()>& ready) {
    for (;;) {
        runDue();
        if (ready()) {
            return true;
        }
        const Micros current = now();
        if (current >= deadline) {
            return false;
        }
        Micros target = deadline;
        if (!events_.empty()) {
            target = std::min(target, std::max(events_.top().at, current));
        }
        moveTo(target);
    }
}

}  // namespace velkora::sim
