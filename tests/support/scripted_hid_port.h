#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "hid/report_frame.h"
#include "platform/hid_port.h"
#include "tests/support/fake_services.h"

namespace velkora::testing {

using Report = std::vector<std::uint8_t>;

// A response as the adapter sends it: with the report ID first (65 bytes, as Windows reads
// it) or without (64 bytes, as hidraw reads it).
inline Report responseReport(std::uint8_t command, std::uint8_t sequence, std::uint8_t status = 0,
                             std::span<const std::uint8_t> payload = {}, bool withReportId = true) {
    const auto length = static_cast<std::uint8_t>(payload.size());
    Report report{0,       kMagic[0], kMagic[1], kMagic[2], kProtocolVersion,
                  command, sequence,  status,    length};
    report.resize(kReportSize);
    std::copy(payload.begin(), payload.end(), report.begin() + 9);
    report.erase(report.begin(), report.begin() + (withReportId ? 0 : 1));
    return report;
}

// A HID bus that plays a script written by the test, on a ManualClock. Each request written
// takes the next reaction of the script: how long its write takes (longer than its time-out,
// it times out), how the write ends when not as a completion, and which reports (or read
// failures) arrive how long after it. Arrivals not read stay queued for later reads, the way a
// late answer does on a real bus. A request beyond the script is met with silence.
//
// Time moves only here: a read with time-out T returns the first arrival due within T and
// advances the clock to its due time, or advances the clock by T and times out. A write
// advances the clock by the time it is scripted to take.
class ScriptedHidPort : public platform::HidPort {
  public:
    struct Arrival {
        std::uint32_t afterMs;
        Report report;
        platform::HidIoResult failure = {};  // the read's end when `report` is empty
        bool afterLoss = false;              // the system's queue overflowed before it was read
    };
    struct Reaction {
        // A report the device sends `afterMs` after the request was written.
        Reaction& reply(Report report, std::uint32_t afterMs = 0, bool afterLoss = false) {
            arrivals.push_back({afterMs, std::move(report), {}, afterLoss});
            return *this;
        }

        std::vector<Arrival> arrivals;
        std::uint32_t writeMs = 0;
        std::optional<platform::HidIoResult> writeEnd;
    };

    explicit ScriptedHidPort(ManualClock& clock) : clock_(clock) {}

    // Appends a reaction for the next request beyond those already scripted.
    Reaction& onRequest() { return script_.emplace_back(); }

    // The reports the device received, in order: writes that timed out or failed are absent.
    const std::vector<Report>& written() const { return written_; }
    int readCount() const { return reads_; }

    std::vector<platform::HidDeviceInfo> devices;  // what enumerate() lists
    bool refusesOpen = false;                      // as a device that has gone does

    std::vector<platform::HidDeviceInfo> enumerate() override { return devices; }
    platform::HidOpenResult open(const platform::NativeString&) override {
        return refusesOpen ? platform::HidOpenResult{nullptr, "Windows error 2"}
                           : platform::HidOpenResult{std::make_unique<Connection>(*this), {}};
    }

  private:
    using HidIoResult = platform::HidIoResult;

    struct Connection final : platform::HidConnection {
        explicit Connection(ScriptedHidPort& bus) : port(bus) {}
        HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t timeoutMs) override {
            return port.write(report, timeoutMs);
        }
        HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) override {
            return port.read(buffer, timeoutMs);
        }
        ScriptedHidPort& port;
    };

    HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t timeoutMs) {
        Reaction reaction;
        if (!script_.empty()) {
            reaction = std::move(script_.front());
            script_.pop_front();
        }
        if (reaction.writeMs > timeoutMs) {
            clock_.advance(timeoutMs);
            return {HidIoResult::Status::TimedOut, 0, {}};
        }
        clock_.advance(reaction.writeMs);
        const HidIoResult result = reaction.writeEnd.value_or(HidIoResult{
            HidIoResult::Status::Completed, static_cast<std::uint32_t>(report.size()), {}});
        if (result.status == HidIoResult::Status::Completed) {
            written_.emplace_back(report.begin(), report.end());
            for (Arrival& arrival : reaction.arrivals) {
                due_.emplace(clock_.tickCount64() + arrival.afterMs, std::move(arrival));
            }
        }
        return result;
    }

    HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) {
        ++reads_;
        const std::uint64_t now = clock_.tickCount64();
        if (due_.empty() || due_.begin()->first > now + timeoutMs) {
            clock_.advance(timeoutMs);
            return {HidIoResult::Status::TimedOut, 0, {}};
        }
        const auto next = due_.begin();
        clock_.advance(std::max(next->first, now) - now);
        const Arrival arrival = std::move(next->second);
        due_.erase(next);
        if (arrival.report.empty()) {
            return arrival.failure;
        }
        const std::size_t count = std::min(arrival.report.size(), buffer.size());
        std::copy_n(arrival.report.begin(), count, buffer.begin());
        HidIoResult result{HidIoResult::Status::Completed, static_cast<std::uint32_t>(count), {}};
        result.reportsLost = arrival.afterLoss;
        return result;
    }

    ManualClock& clock_;
    std::deque<Reaction> script_;                // a deque keeps references valid
    std::multimap<std::uint64_t, Arrival> due_;  // by due tick, FIFO among equals
    std::vector<Report> written_;
    int reads_ = 0;
};

}  // namespace velkora::testing
