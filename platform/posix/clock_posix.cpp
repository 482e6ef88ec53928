#include <cerrno>
#include <ctime>

#include "platform/clock.h"

namespace velkora::platform {
namespace {

class PosixClock final : public Clock {
  public:
    std::uint32_t tickCount32() override { return static_cast<std::uint32_t>(tickCount64()); }

    std::uint64_t tickCount64() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
               static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    }

    void sleepMs(std::uint32_t milliseconds) override {
        timespec remaining{static_cast<time_t>(milliseconds / 1000u),
                           static_cast<long>(milliseconds % 1000u) * 1000000L};
        // A signal that interrupts the sleep must not shorten it.
        while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
        }
    }

    std::time_t calendarTime() override { return std::time(nullptr); }
};

}  // namespace

Clock& systemClock() {
    static PosixClock clock;
    return clock;
}

}  // namespace velkora::platform
