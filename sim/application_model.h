#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "sim/adapter_profile.h"
#include "sim/device_outcome.h"

namespace velkora::sim {

// The device's configuration: the stored copy survives restarts, the working copy is what the
// configuration commands read and change, and the defaults are what RESET_CONFIG restores.
// Only the items present on this device take part.
struct ConfigState {
    std::array<bool, kConfigItemCount> present{};
    std::array<std::uint8_t, kConfigItemCount> stored{};
    std::array<std::uint8_t, kConfigItemCount> working{};
    std::array<std::uint8_t, kConfigItemCount> defaults{};
};

// The application identity's commands: the fault log (FAULT_DUMP, CLEAR_FAULTS), EXIT, and
// the configuration (GET_INFO, GET_CONFIG, SET_CONFIG_ITEM, STORE_CONFIG, RESET_CONFIG).
class ApplicationModel {
  public:
    ApplicationModel(const ApplicationProfile& profile, std::string faultDump,
                     const std::array<ConfigItemProfile, kConfigItemCount>& config);

    Outcome handle(const WireRequest& request);

    // The application starts afresh: its working configuration is the stored one again.
    void start();

    const std::string& faultDump() const { return faultDump_; }
    const ConfigState& config() const { return config_; }
    std::uint32_t exitCount() const { return exits_; }
    std::uint32_t clearFaultsCount() const { return clears_; }
    std::uint32_t storeCount() const { return stores_; }

  private:
    Outcome dispatch(const WireRequest& request);
    Outcome getInfo(const WireRequest& request) const;
    Outcome getConfig(const WireRequest& request) const;
    Outcome setConfigItem(const WireRequest& request);

    ApplicationProfile profile_;
    std::string faultDump_;
    ConfigState config_;
    std::uint32_t exits_ = 0;
    std::uint32_t clears_ = 0;
    std::uint32_t stores_ = 0;
};

}  // namespace velkora::sim
