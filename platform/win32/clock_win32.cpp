// <windows.h> has to come first: the other system headers rely on its types.
#include <windows.h>

#include <timeapi.h>

#include <ctime>

#include "platform/clock.h"

namespace velkora::platform {
namespace {

class WindowsClock final : public Clock {
  public:
    std::uint32_t tickCount32() override { return GetTickCount(); }

    std::uint64_t tickCount64() override { return GetTickCount64(); }

    void sleepMs(std::uint32_t milliseconds) override { Sleep(milliseconds); }

    std::time_t calendarTime() override { return std::time(nullptr); }

    // Sleep(1) lasts a whole timer period unless the period is shortened. The shorter period
    // costs power system-wide, so it is requested only while a caller needs it and always
    // handed back; the requests nest.
    void beginPreciseSleep() override {
        if (preciseSleepRequests_++ == 0) {
            periodRaised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
        }
    }

    void endPreciseSleep() override {
        if (preciseSleepRequests_ > 0 && --preciseSleepRequests_ == 0 && periodRaised_) {
            timeEndPeriod(1);
            periodRaised_ = false;
        }
    }

  private:
    unsigned preciseSleepRequests_ = 0;
    bool periodRaised_ = false;
};

}  // namespace

Clock& systemClock() {
    static WindowsClock clock;
    return clock;
}

}  // namespace velkora::platform
