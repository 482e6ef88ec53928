#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "platform/hid_port.h"
#include "sim/adapter_profile.h"
#include "sim/application_model.h"
#include "sim/bootloader_model.h"
#include "sim/fault_injection.h"
#include "sim/timeline.h"

namespace velkora::sim {

// One request as the adapter received it, kept for tests to inspect.
struct ReceivedRequest {
    Micros at = 0;
    Identity identity = Identity::Absent;
    WireRequest request;
};

// The interface the adapter shows right now, with the token that tells connections opened on
// it from connections opened on an earlier appearance.
struct PresentInterface {
    platform::HidDeviceInfo info;
    std::uint64_t presence = 0;
};

// One simulated Velkora: at any moment in its bootloader identity, in its application
// identity (the management interface), or absent while it re-enumerates. It hears requests
// and speaks only in 65-byte reports, and its answers, dump reports and identity changes are
// events on the shared timeline.
class SimulatedAdapter {
  public:
    // Where the adapter's reports go: every connection open on the given appearance.
    using ReportOutput = std::function<void(std::uint64_t presence, const InputReport&)>;

    SimulatedAdapter(Timeline& timeline, AdapterProfile profile);
    SimulatedAdapter(const SimulatedAdapter&) = delete;
    SimulatedAdapter& operator=(const SimulatedAdapter&) = delete;

    void setOutput(ReportOutput output) { output_ = std::move(output); }

    // The host lists the bus for the first time: a late adapter starts its plug-in delay.
    void hostStartedListing();

    std::optional<PresentInterface> presentInterface() const;
    bool isPresent(std::uint64_t presence) const {
        return identity_ != Identity::Absent && presence == presence_;
    }

    // A request report, written by the host on a connection to the given appearance. It
    // reached the adapter now, or at `arrivedAt`: the frame boundary at which it crossed the
    // bus, which in real time lies a little before the moment the host's thread runs again.
    void receive(std::uint64_t presence, std::span<const std::uint8_t> report);
    void receive(std::uint64_t presence, std::span<const std::uint8_t> report, Micros arrivedAt);

    // Inspection.
    Identity identity() const { return identity_; }
    const std::vector<ReceivedRequest>& requests() const { return requests_; }
    const BootloaderModel& bootloader() const { return bootloader_; }
    const ApplicationModel& application() const { return application_; }
    const AdapterProfile& profile() const { return profile_; }
    // When the last report scheduled so far goes out: until then an answer or the rest of a
    // fault dump is still on its way.
    Micros reportsScheduledUntil() const { return lastReportAt_; }

  private:
    Micros sendAt(Micros ready, const InputReport& report);
    void sendEarlierReports(const WireRequest& request, const ResponsePlan& plan, Micros ready);
    void carryOut(Effect effect, Micros answeredAt, const WireRequest& request,
                  const ResponsePlan& plan);
    void streamDump(Micros from, std::uint8_t sequence, const ResponsePlan& plan);
    void vanishAt(Micros at, std::optional<Identity> comeBackAs, std::uint32_t afterMs);
    void vanish();
    void appear(Identity identity);
    Outcome handleRequest(const WireRequest& request);

    Timeline& timeline_;
    AdapterProfile profile_;
    BootloaderModel bootloader_;
    ApplicationModel application_;
    FaultInjector faults_;
    ReportOutput output_;
    Identity identity_ = Identity::Absent;
    std::uint64_t presence_ = 1;
    std::uint64_t dumpStream_ = 0;
    Micros lastReportAt_ = 0;
    bool listed_ = false;
    std::vector<ReceivedRequest> requests_;
};

}  // namespace velkora::sim
