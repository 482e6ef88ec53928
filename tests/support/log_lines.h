#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace velkora::testing {

// The texts of a run log's lines, without their 19-character time stamps and the space after
// them, and without line ends.
std::vector<std::string> readLogLines(const std::filesystem::path& logFile);

}  // namespace velkora::testing
