#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

#include "sim/adapter_profile.h"

namespace velkora::sim {

// A scenario file that cannot be used. The message names the file, the line and the field:
//   "scenarios/late.scn:12: bootloader.compatibility: expected a number from 0 to 255 ..."
class ScenarioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads a scenario (the format is described in docs/scenarios.md). Everything the file does
// not say keeps the value of defaultAdapterProfile().
AdapterProfile parseScenario(std::string_view text, const std::string& sourceName);
AdapterProfile readScenarioFile(const std::filesystem::path& path);

}  // namespace velkora::sim
