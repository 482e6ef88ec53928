#include "sim/simulated_bus.h"

#include <algorithm>
#include <string>
#include <utility>

namespace velkora::sim {
namespace {

using platform::HidIoResult;
using Status = platform::HidIoResult::Status;

// The errors Windows gives for these cases, so that messages read the same on every platform.
constexpr const char* kDeviceNotConnected = "Windows error 1167";
constexpr const char* kFileNotFound = "Windows error 2";
constexpr const char* kInvalidParameter = "Windows error 87";

// Extra interfaces use presence tokens far away from the adapter's.
constexpr std::uint64_t kExtraPresenceBase = std::uint64_t{1} << 48;

class SimConnection final : public platform::HidConnection {
  public:
    SimConnection(SimulatedBus& bus, std::uint64_t channel) : bus_(bus), channel_(channel) {}
    ~SimConnection() override { bus_.close(channel_); }
    SimConnection(const SimConnection&) = delete;
    SimConnection& operator=(const SimConnection&) = delete;

    HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t timeoutMs) override {
        return bus_.write(channel_, report, timeoutMs);
    }
    HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) override {
        return bus_.read(channel_, buffer, timeoutMs);
    }

  private:
    SimulatedBus& bus_;
    std::uint64_t channel_;
};

}  // namespace

// An extra interface shows the strings of the identity it plays, as another Velkora of the
// same kind would; only its path and serial number are its own.
platform::HidDeviceInfo extraInterfaceInfo(const ExtraInterfaceProfile& profile, std::size_t index,
                                           const IdentityProfile& identity) {
    const std::string path = "\\\\?\\hid#vid_0483&pid_a5b9#9&5e" + std::to_string(index) +
                             "c0ffee&0&000" + std::to_string(index) +
                             "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    switch (profile.kind) {
        case ExtraInterfaceProfile::Kind::Bootloader:
            return {platform::fromUtf8(path), identity.manufacturer, identity.bootloaderProduct,
                    profile.serial};
        case ExtraInterfaceProfile::Kind::Management:
            return {platform::fromUtf8(path), identity.manufacturer, identity.managementProduct,
                    profile.serial};
        case ExtraInterfaceProfile::Kind::Unreadable:
            break;
    }
    return {platform::fromUtf8(path), "", "", ""};
}

SimulatedBus::SimulatedBus(Timeline& timeline, SimulatedAdapter& adapter,
                           std::vector<ExtraInterfaceProfile> extras, bool usbFrames)
    : timeline_(timeline), adapter_(adapter), usbFrames_(usbFrames) {
    for (std::size_t i = 0; i < extras.size(); ++i) {
        extras_.push_back(Extra{extraInterfaceInfo(extras[i], i, adapter.profile().identity),
                                kExtraPresenceBase + i, extras[i].appearMs,
                                extras[i].appearMs == 0});
    }
    adapter_.setOutput(
        [this](std::uint64_t presence, const InputReport& report) { post(presence, report); });
}

std::vector<platform::HidDeviceInfo> SimulatedBus::enumerate() {
    ++enumerations_;
    if (!listed_) {
        listed_ = true;
        adapter_.hostStartedListing();
        for (Extra& extra : extras_) {
            if (!extra.present) {
                timeline_.schedule(timeline_.now() + fromMs(extra.appearMs),
                                   [&extra] { extra.present = true; });
            }
        }
    }
    timeline_.runDue();
    std::vector<platform::HidDeviceInfo> devices;
    if (const auto present = adapter_.presentInterface()) {
        devices.push_back(present->info);
    }
    for (const Extra& extra : extras_) {
        if (extra.present) {
            devices.push_back(extra.info);
        }
    }
    return devices;
}

platform::HidOpenResult SimulatedBus::open(const platform::NativeString& path) {
    timeline_.runDue();
    std::uint64_t presence = 0;
    if (const auto present = adapter_.presentInterface(); present && present->info.path == path) {
        presence = present->presence;
    }
    for (const Extra& extra : extras_) {
        if (extra.present && extra.info.path == path) {
            presence = extra.presence;
        }
    }
    if (presence == 0) {
        return {nullptr, kFileNotFound};
    }
    const std::uint64_t channel = nextChannel_++;
    channels_[channel] = Channel{presence, {}};
    return {std::make_unique<SimConnection>(*this, channel), {}};
}

bool SimulatedBus::isPresent(std::uint64_t presence) const {
    if (presence >= kExtraPresenceBase) {
        const std::size_t index = presence - kExtraPresenceBase;
        return index < extras_.size() && extras_[index].present;
    }
    return adapter_.isPresent(presence);
}

void SimulatedBus::post(std::uint64_t presence, const InputReport& report) {
    for (auto& [id, channel] : channels_) {
        if (channel.presence != presence) {
            continue;
        }
        if (channel.inbox.size() == kInputQueueDepth) {
            channel.inbox.pop_front();
            channel.dropped = true;
            ++dropped_;
        }
        channel.inbox.push_back(report);
    }
}

HidIoResult SimulatedBus::write(std::uint64_t channelId, std::span<const std::uint8_t> report,
                                std::uint32_t timeoutMs) {
    timeline_.runDue();
    const std::uint64_t presence = channels_.at(channelId).presence;
    if (!isPresent(presence)) {
        return {Status::Failed, 0, kDeviceNotConnected};
    }
    if (report.size() != frame::kBytes) {
        return {Status::Failed, 0, kInvalidParameter};
    }
    // On the bus, a report waits for the next frame; a write whose time-out ends before that
    // frame is cancelled. The report crosses at the frame boundary: in real time the host's
    // thread may run again a little later, but the bus does not wait for it, so neither does
    // the adapter's answer.
    Micros arrivedAt = timeline_.now();
    if (usbFrames_) {
        const Micros now = arrivedAt;
        const Micros frame = (now / kMicrosPerMs + 1) * kMicrosPerMs;
        if (frame - now > fromMs(timeoutMs)) {
            timeline_.sleepUntil(now + fromMs(timeoutMs));
            return {Status::TimedOut, 0, {}};
        }
        timeline_.sleepUntil(frame);
        if (!isPresent(presence)) {
            return {Status::Failed, 0, kDeviceNotConnected};
        }
        arrivedAt = frame;
    }
    if (presence < kExtraPresenceBase) {
        adapter_.receive(presence, report, arrivedAt);
    }
    return {Status::Completed, static_cast<std::uint32_t>(report.size()), {}};
}

HidIoResult SimulatedBus::read(std::uint64_t channelId, std::span<std::uint8_t> buffer,
                               std::uint32_t timeoutMs) {
    Channel& channel = channels_.at(channelId);
    const bool arrived = timeline_.waitUntil(timeline_.now() + fromMs(timeoutMs), [&] {
        return !channel.inbox.empty() || !isPresent(channel.presence);
    });
    if (!arrived) {
        return {Status::TimedOut, 0, {}};
    }
    if (channel.inbox.empty()) {
        return {Status::Failed, 0, kDeviceNotConnected};
    }
    const InputReport report = channel.inbox.front();
    channel.inbox.pop_front();
    const std::size_t count = std::min<std::size_t>(report.length, buffer.size());
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    std::copy_n(report.bytes.begin(), count, buffer.begin());
    HidIoResult result{Status::Completed, static_cast<std::uint32_t>(count), {}};
    result.reportsLost = std::exchange(channel.dropped, false);
    return result;
}

}  // namespace velkora::sim
