#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "platform/hid_port.h"
#include "sim/simulated_adapter.h"
#include "sim/timeline.h"

namespace velkora::sim {

// What the bus lists for the `index`th extra interface: the strings of the identity it plays,
// as another Velkora of the same kind would show them, with a path and serial of its own.
platform::HidDeviceInfo extraInterfaceInfo(const ExtraInterfaceProfile& profile, std::size_t index,
                                           const IdentityProfile& identity);

// The HID bus as the updater sees it through the platform seam: the simulated adapter and any
// extra interfaces of the bus faults. Connections behave like Windows HID handles: each has
// its own queue of input reports (32 deep, the oldest dropped when full), reports sent while
// it was closed are lost, and once its interface has gone every read and write fails with
// ERROR_DEVICE_NOT_CONNECTED. The read after a drop says that reports were lost.
class SimulatedBus final : public platform::HidPort {
  public:
    SimulatedBus(Timeline& timeline, SimulatedAdapter& adapter,
                 std::vector<ExtraInterfaceProfile> extras, bool usbFrames);
    SimulatedBus(const SimulatedBus&) = delete;
    SimulatedBus& operator=(const SimulatedBus&) = delete;

    std::vector<platform::HidDeviceInfo> enumerate() override;
    platform::HidOpenResult open(const platform::NativeString& path) override;

    // Inspection: connections not yet closed, and input reports lost to a full queue.
    std::size_t openConnections() const { return channels_.size(); }
    std::uint64_t droppedReports() const { return dropped_; }
    std::uint64_t enumerations() const { return enumerations_; }

    // Used by the connections.
    platform::HidIoResult write(std::uint64_t channel, std::span<const std::uint8_t> report,
                                std::uint32_t timeoutMs);
    platform::HidIoResult read(std::uint64_t channel, std::span<std::uint8_t> buffer,
                               std::uint32_t timeoutMs);
    void close(std::uint64_t channel) { channels_.erase(channel); }

    static constexpr std::size_t kInputQueueDepth = 32;

  private:
    struct Channel {
        std::uint64_t presence = 0;
        std::deque<InputReport> inbox;
        bool dropped = false;  // a report was dropped since the last read
    };
    struct Extra {
        platform::HidDeviceInfo info;
        std::uint64_t presence = 0;
        std::uint32_t appearMs = 0;
        bool present = false;
    };

    bool isPresent(std::uint64_t presence) const;
    void post(std::uint64_t presence, const InputReport& report);

    Timeline& timeline_;
    SimulatedAdapter& adapter_;
    std::vector<Extra> extras_;
    bool usbFrames_;
    bool listed_ = false;
    std::map<std::uint64_t, Channel> channels_;
    std::uint64_t nextChannel_ = 1;
    std::uint64_t dropped_ = 0;
    std::uint64_t enumerations_ = 0;
};

}  // namespace velkora::sim
