#pragma once

#include <cstdint>
#include <ctime>

namespace velkora::platform {

// Time as the updater sees it: two monotonic millisecond tick counts, a blocking sleep and the
// calendar time for time stamps. Tests replace it with a virtual clock so that waits of many
// seconds pass in no real time.
class Clock {
  public:
    virtual ~Clock() = default;

    // Milliseconds since an arbitrary start, wrapping at 2^32 (Windows' GetTickCount).
    // Callers measure elapsed time as an unsigned 32-bit difference, which survives the wrap.
    virtual std::uint32_t tickCount32() = 0;

    // Milliseconds since an arbitrary start that does not wrap (GetTickCount64).
    virtual std::uint64_t tickCount64() = 0;

    // Blocks the calling thread for about the given number of milliseconds.
    virtual void sleepMs(std::uint32_t milliseconds) = 0;

    // The current calendar time in whole seconds, for time stamps and file names.
    virtual std::time_t calendarTime() = 0;

    // While at least one request is active, sleeps of a millisecond or two last about that
    // long. Windows rounds sleeps up to its timer period (about 15.6 ms by default) unless
    // asked otherwise; the firmware transfer pauses 1 ms after every chunk and would take
    // fifteen times longer. Other platforms sleep precisely anyway.
    virtual void beginPreciseSleep() {}
    virtual void endPreciseSleep() {}
};

// Keeps sleeps precise for the lifetime of the scope, and always restores the default.
class PreciseSleepScope {
  public:
    explicit PreciseSleepScope(Clock& clock) : clock_(clock) { clock_.beginPreciseSleep(); }
    ~PreciseSleepScope() { clock_.endPreciseSleep(); }
    PreciseSleepScope(const PreciseSleepScope&) = delete;
    PreciseSleepScope& operator=(const PreciseSleepScope&) = delete;

  private:
    Clock& clock_;
};

// The system's clock.
Clock& systemClock();

}  // namespace velkora::platform
