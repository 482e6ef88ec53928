#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <stdexcept>
#include <vector>

namespace velkora::sim {

// Simulated time in microseconds since the simulation began. The updater sees milliseconds;
// the finer grain lets the USB timing model place reports on 1 ms frame boundaries.
using Micros = std::uint64_t;
inline constexpr Micros kMicrosPerMs = 1000;

constexpr Micros fromMs(std::uint64_t milliseconds) {
    return milliseconds * kMicrosPerMs;
}

class SimulationTimeLimit : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The one time base that the simulated clock, the simulated HID bus and the device share, and
// the queue of device events on it. Nothing runs in the background: events run when the
// updater's own thread waits (a sleep, a read) or looks at the bus, in time order, so a run is
// the same every time.
//
// Virtual mode: time moves only by waiting, and a wait with nothing due jumps straight to its
// end, so five seconds of read time-out cost no real time. Real-time mode: the same events on
// the steady clock, and waits really sleep; the demo program and the benchmarks use it.
class Timeline {
  public:
    enum class Mode { Virtual, RealTime };

    explicit Timeline(Mode mode);
    Timeline(const Timeline&) = delete;
    Timeline& operator=(const Timeline&) = delete;

    Mode mode() const { return mode_; }
    Micros now() const;

    // Runs `action` once the time reaches `at` (at once on the next wait if `at` has passed).
    // Events due at the same moment run in the order they were scheduled.
    void schedule(Micros at, std::function<void()> action);

    // Runs every event that is due now, including those that due events schedule for now.
    void runDue();

    // Runs events as they fall due until `ready()` holds or the time reaches `deadline`.
    // Returns whether `ready()` holds. `ready` is checked before the first wait, so a
    // deadline in the past still looks once.
    bool waitUntil(Micros deadline, const std::function<bool()>& ready);

    void sleepUntil(Micros deadline) {
        waitUntil(deadline, [] { return false; });
    }

    bool hasPendingEvents() const { return !events_.empty(); }

    // When the earliest scheduled event falls due, for a caller that waits for something
    // besides the timeline (a file descriptor) and must wake up in time for it.
    std::optional<Micros> nextEventAt() const {
        return events_.empty() ? std::nullopt : std::optional<Micros>(events_.top().at);
    }

    // Virtual mode only: a wait that would carry the time past `limit` fails with
    // SimulationTimeLimit instead, so a scripted run that waits for something that never
    // comes ends with a message rather than spinning through virtual hours.
    void setVirtualLimit(Micros limit) { limit_ = limit; }

  private:
    struct Event {
        Micros at;
        std::uint64_t order;
        std::function<void()> action;
    };
    struct RunsLater {
        bool operator()(const Event& a, const Event& b) const {
            return a.at != b.at ? a.at > b.at : a.order > b.order;
        }
    };

    void moveTo(Micros target);

    Mode mode_;
    Micros virtualNow_ = 0;
    Micros limit_ = ~Micros{0};
    std::chrono::steady_clock::time_point origin_;
    std::uint64_t nextOrder_ = 0;
    std::priority_queue<Event, std::vector<Event>, RunsLater> events_;
};

}  // namespace velkora::sim
