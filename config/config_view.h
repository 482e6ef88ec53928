#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string_view>

#include "config/config_protocol.h"

namespace velkora {

// Prints the staged configuration; " *" marks every item whose staged value differs from the
// stored one.
void showStagedConfiguration(std::ostream& out, const ConfigSnapshot& stored,
                             const ConfigSnapshot& staged);

// A reply of decimal digits only (leading zeros allowed) with a value up to 255.
std::optional<std::uint8_t> parseSmallNumber(std::string_view reply);

}  // namespace velkora
