#include "config/config_view.h"

#include <ostream>

namespace velkora {

void showStagedConfiguration(std::ostream& out, const ConfigSnapshot& stored,
                             const ConfigSnapshot& staged) {
    out << "\nStaged configuration (* = unstored change):\n";
    for (const ConfigItemInfo& item : kConfigItems) {
        const auto& value = staged[item.id - 1u];
        if (!value) {
            continue;
        }
        out << static_cast<int>(item.id) << ". " << item.name << ": " << item.valueNames[*value]
            << (stored[item.id - 1u] != value ? " *" : "") << "\n";
    }
    out << "\n";
}

std::optional<std::uint8_t> parseSmallNumber(std::string_view reply) {
    if (reply.empty()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : reply) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10u + static_cast<unsigned>(c - '0');
        if (value > 255u) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace velkora
