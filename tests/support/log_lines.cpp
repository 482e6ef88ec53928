#include "tests/support/log_lines.h"

#include <fstream>

namespace velkora::testing {

std::vector<std::string> readLogLines(const std::filesystem::path& logFile) {
    constexpr std::size_t kStampLength = 20;  // "YYYY-MM-DD HH:MM:SS "
    std::vector<std::string> lines;
    std::ifstream file(logFile, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line.size() >= kStampLength ? line.substr(kStampLength) : line);
    }
    return lines;
}

}  // namespace velkora::testing
