#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "platform/hid_port.h"
#include "tests/support/fake_services.h"

namespace velkora::testing {

using Report = std::vector<std::uint8_t>;

// A response as the adapter sends it: with the report ID first (65 bytes, as Windows reads
// it) or without (64 bytes, as hidraw reads it).
Report responseReport(std::uint8_t command, std::uint8_t sequence, std::uint8_t status = 0,
                      std::span<const std::uint8_t> payload = {}, bool withReportId = true);

// A HID bus that plays a script written by the test, on a ManualClock. Each request written
// takes the next reaction of the script: how its write ends and which reports (or read
// failures) arrive how long after it. Arrivals not read stay queued for later reads, the way a
// late answer does on a real bus. A request beyond the script is met with silence.
//
// Time moves only here: a read with time-out T returns the first arrival due within T and
// advances the clock to its due time, or advances the clock by T and times out. A write
// advances the clock by the time it is scripted to take.
class ScriptedHidPort : public platform::HidPort {
  public:
    class Reaction {
      public:
        // A report the device sends `afterMs` after the request was written.
        Reaction& reply(Report report, std::uint32_t afterMs = 0);
        // The read pending `afterMs` after the request ends with this failure instead.
        Reaction& failRead(platform::HidIoResult failure, std::uint32_t afterMs = 0);
        // The write takes this long; longer than its time-out, it times out.
        Reaction& writeTakes(std::uint32_t milliseconds);
        // The write ends like this (a failure, or a completion with another byte count).
        Reaction& writeEnds(platform::HidIoResult result);

      private:
        friend class ScriptedHidPort;
        struct Arrival {
            std::uint32_t afterMs;
            Report report;
            platform::HidIoResult failure;  // used when `report` is empty
        };
        std::vector<Arrival> arrivals_;
        std::uint32_t writeMs_ = 0;
        bool customWriteEnd_ = false;
        platform::HidIoResult writeEnd_;
    };

    explicit ScriptedHidPort(ManualClock& clock) : clock_(clock) {}

    // Appends a reaction for the next request beyond those already scripted.
    Reaction& onRequest() { return script_.emplace_back(); }

    // A report that arrives `afterMs` from now, whatever is written.
    void deliver(Report report, std::uint32_t afterMs = 0);

    // The reports the device received, in order: writes that timed out or failed are absent.
    const std::vector<Report>& written() const { return written_; }
    int readCount() const { return reads_; }
    int openConnections() const { return openConnections_; }

    // What enumerate() lists, and the detail of a refused open ("" lets every open succeed).
    std::vector<platform::HidDeviceInfo> devices;
    std::string openError;

    std::vector<platform::HidDeviceInfo> enumerate() override { return devices; }
    platform::HidOpenResult open(const platform::NativeString& path) override;

  private:
    class Connection;
    platform::HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t timeoutMs);
    platform::HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs);
    void schedule(Reaction::Arrival arrival);

    ManualClock& clock_;
    std::deque<Reaction> script_;                          // a deque keeps references valid
    std::multimap<std::uint64_t, Reaction::Arrival> due_;  // by due tick, FIFO among equals
    std::vector<Report> written_;
    int reads_ = 0;
    int openConnections_ = 0;
};

}  // namespace velkora::testing
