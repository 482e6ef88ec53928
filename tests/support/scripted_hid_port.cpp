#include "tests/support/scripted_hid_port.h"

#include <algorithm>

#include "hid/report_frame.h"

namespace velkora::testing {

using platform::HidIoResult;

Report responseReport(std::uint8_t command, std::uint8_t sequence, std::uint8_t status,
                      std::span<const std::uint8_t> payload, bool withReportId) {
    Report report(kReportSize, 0);
    std::copy(kMagic.begin(), kMagic.end(), report.begin() + 1);
    report[4] = kProtocolVersion;
    report[5] = command;
    report[6] = sequence;
    report[7] = status;
    report[8] = static_cast<std::uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), report.begin() + 9);
    if (!withReportId) {
        report.erase(report.begin());
    }
    return report;
}

ScriptedHidPort::Reaction& ScriptedHidPort::Reaction::reply(Report report, std::uint32_t afterMs) {
    arrivals_.push_back({afterMs, std::move(report), {}});
    return *this;
}

ScriptedHidPort::Reaction& ScriptedHidPort::Reaction::failRead(HidIoResult failure,
                                                               std::uint32_t afterMs) {
    arrivals_.push_back({afterMs, {}, std::move(failure)});
    return *this;
}

ScriptedHidPort::Reaction& ScriptedHidPort::Reaction::writeTakes(std::uint32_t milliseconds) {
    writeMs_ = milliseconds;
    return *this;
}

ScriptedHidPort::Reaction& ScriptedHidPort::Reaction::writeEnds(HidIoResult result) {
    customWriteEnd_ = true;
    writeEnd_ = std::move(result);
    return *this;
}

class ScriptedHidPort::Connection final : public platform::HidConnection {
  public:
    explicit Connection(ScriptedHidPort& port) : port_(port) { ++port_.openConnections_; }
    ~Connection() override { --port_.openConnections_; }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t timeoutMs) override {
        return port_.write(report, timeoutMs);
    }
    HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) override {
        return port_.read(buffer, timeoutMs);
    }

  private:
    ScriptedHidPort& port_;
};

platform::HidOpenResult ScriptedHidPort::open(const platform::NativeString&) {
    if (!openError.empty()) {
        return {nullptr, openError};
    }
    return {std::make_unique<Connection>(*this), {}};
}

void ScriptedHidPort::deliver(Report report, std::uint32_t afterMs) {
    schedule({afterMs, std::move(report), {}});
}

void ScriptedHidPort::schedule(Reaction::Arrival arrival) {
    due_.emplace(clock_.tickCount64() + arrival.afterMs, std::move(arrival));
}

HidIoResult ScriptedHidPort::write(std::span<const std::uint8_t> report, std::uint32_t timeoutMs) {
    Reaction reaction;
    if (!script_.empty()) {
        reaction = std::move(script_.front());
        script_.pop_front();
    }
    if (reaction.writeMs_ > timeoutMs) {
        clock_.advance(timeoutMs);
        return {HidIoResult::Status::TimedOut, 0, {}};
    }
    clock_.advance(reaction.writeMs_);
    HidIoResult result{
        HidIoResult::Status::Completed, static_cast<std::uint32_t>(report.size()), {}};
    if (reaction.customWriteEnd_) {
        result = reaction.writeEnd_;
    }
    if (result.status == HidIoResult::Status::Completed) {
        written_.emplace_back(report.begin(), report.end());
        for (Reaction::Arrival& arrival : reaction.arrivals_) {
            schedule(std::move(arrival));
        }
    }
    return result;
}

HidIoResult ScriptedHidPort::read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) {
    ++reads_;
    const std::uint64_t now = clock_.tickCount64();
    if (due_.empty() || due_.begin()->first > now + timeoutMs) {
        clock_.advance(timeoutMs);
        return {HidIoResult::Status::TimedOut, 0, {}};
    }
    auto next = due_.begin();
    clock_.advance(std::max(next->first, now) - now);
    Reaction::Arrival arrival = std::move(next->second);
    due_.erase(next);
    if (arrival.report.empty()) {
        return arrival.failure;
    }
    const std::size_t count = std::min(arrival.report.size(), buffer.size());
    std::copy_n(arrival.report.begin(), count, buffer.begin());
    return {HidIoResult::Status::Completed, static_cast<std::uint32_t>(count), {}};
}

}  // namespace velkora::testing
