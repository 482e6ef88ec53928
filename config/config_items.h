#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace velkora {

// One configuration item of the adapter: its ID, its name, and the names of its values by
// value index.
struct ConfigItemInfo {
    std::uint8_t id;
    std::string_view name;
    std::array<std::string_view, 5> valueNames;
    std::uint8_t valueCount;
};

inline constexpr std::size_t kConfigItemCount = 9;

// Row n-1 describes item ID n.
inline constexpr std::array<ConfigItemInfo, kConfigItemCount> kConfigItems{{
    {1, "Redriver level", {"Off", "Zero", "One", "Two", "Three"}, 5},
    {2, "LED mode", {"Default", "NoFlash", "Off"}, 3},
    {3, "Ramp rate", {"Safe", "Aggressive8", "Aggressive10"}, 3},
    {4, "Ramp mode", {"Off", "Full", "UpOnly"}, 3},
    {5, "Small-bus switch", {"Disabled", "WaitForever", "WaitWithTimeout"}, 3},
    {6, "Hot swap", {"Disabled", "Enabled"}, 2},
    {7, "Samsung recovery", {"Disabled", "Enabled", "Compatibility"}, 3},
    {8, "PD3 follower", {"Disabled", "Enabled"}, 2},
    {9, "PPS", {"Disabled", "Enabled"}, 2},
}};

// The row of an item ID from 1 to 9.
inline const ConfigItemInfo& configItem(std::uint8_t id) {
    return kConfigItems[id - 1u];
}

}  // namespace velkora
