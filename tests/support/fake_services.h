#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/services.h"

namespace velkora::testing {

// A clock that moves only when slept on or told to; the calendar time moves along with it
// from 2026-01-01 00:00:00 UTC.
class ManualClock : public platform::Clock {
  public:
    std::uint32_t tickCount32() override { return static_cast<std::uint32_t>(ticks_); }
    std::uint64_t tickCount64() override { return ticks_; }
    void sleepMs(std::uint32_t milliseconds) override { advance(milliseconds); }
    std::time_t calendarTime() override {
        return 1767225600 + static_cast<std::time_t>((ticks_ - 1000) / 1000u);
    }

    void advance(std::uint64_t milliseconds) { ticks_ += milliseconds; }

  private:
    std::uint64_t ticks_ = 1000;
};

// A host whose program folder is a test's folder and whose single-instance claim is decided
// by the test.
class FakeHost : public platform::Host {
  public:
    explicit FakeHost(std::filesystem::path folder) : folder_(std::move(folder)) {}

    platform::InstanceClaim claimSingleInstance() override {
        const bool acquired = claimOutcome == platform::InstanceClaimOutcome::Acquired;
        return {claimOutcome, acquired ? std::make_unique<CountedGuard>(claimsHeld) : nullptr};
    }
    std::filesystem::path programFolder() override { return folder_; }
    std::string osVersionLine() override { return "OS version Test 1.0"; }

    platform::InstanceClaimOutcome claimOutcome = platform::InstanceClaimOutcome::Acquired;
    int claimsHeld = 0;  // claims acquired and not yet released

  private:
    struct CountedGuard : platform::InstanceGuard {
        explicit CountedGuard(int& count) : held(count) { ++held; }
        ~CountedGuard() override { --held; }
        int& held;
    };

    std::filesystem::path folder_;
};

// No keys are ever pressed.
struct NoKeys : platform::ConsoleKeys {
    bool keyWaiting() override { return false; }
    int readKey() override { return -1; }
};

}  // namespace velkora::testing
