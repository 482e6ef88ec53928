#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hid/hid_exchange.h"
#include "sim/sim_environment.h"
#include "sim/wire.h"

namespace velkora::sim::testing {

// Talks to a simulated adapter through the platform seam, with the updater's own exchange, so
// that the model is seen exactly as the updater sees it.
class SimRig {
  public:
    explicit SimRig(AdapterProfile profile, SimOptions options = {})
        : env(std::move(profile), options) {}

    // Opens the interface the adapter shows now (the test fails when it shows none).
    HidHandle openPresent() {
        const auto devices = env.bus().enumerate();
        if (devices.empty()) {
            return {};
        }
        platform::HidOpenResult opened = env.bus().open(devices.front().path);
        return HidHandle(std::move(opened.connection), env.clock());
    }

    HidResponse send(HidHandle& handle, std::uint8_t command,
                     const std::vector<std::uint8_t>& payload = {},
                     std::uint32_t timeoutMs = 3000) {
        return hidExchange(handle, command, sequence_++, payload, timeoutMs);
    }

    std::uint64_t nowMs() { return env.timeline().now() / kMicrosPerMs; }
    void sleepMs(std::uint32_t ms) { env.clock().sleepMs(ms); }

    SimEnvironment env;

  private:
    std::uint8_t sequence_ = 1;
};

inline std::vector<std::uint8_t> startUpdatePayload(std::uint32_t size) {
    std::vector<std::uint8_t> payload{1, 2};
    putLe32(payload, size);
    return payload;
}

inline std::vector<std::uint8_t> chunkPayload(std::uint32_t offset,
                                              const std::vector<std::uint8_t>& bytes) {
    std::vector<std::uint8_t> payload;
    putLe32(payload, offset);
    payload.push_back(static_cast<std::uint8_t>(bytes.size()));
    payload.insert(payload.end(), bytes.begin(), bytes.end());
    return payload;
}

}  // namespace velkora::sim::testing
