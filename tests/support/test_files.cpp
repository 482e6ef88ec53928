#include "tests/support/test_files.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

namespace velkora::testing {

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    std::ostringstream name;
    name << "velkora-test-" << seed() << "-" << counter++;
    path_ = std::filesystem::temp_directory_path() / name.str();
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

std::vector<std::string> logLinesOf(const std::string& text) {
    constexpr std::string_view kStamp = "0000-00-00 00:00:00 ";  // 0: any digit
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        bool stamped = line.size() >= kStamp.size();
        for (std::size_t i = 0; stamped && i < kStamp.size(); ++i) {
            stamped = kStamp[i] == '0' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                                       : line[i] == kStamp[i];
        }
        lines.push_back(stamped ? line.substr(kStamp.size()) : "<no time stamp> " + line);
    }
    return lines;
}

std::vector<std::string> readLogLines(const std::filesystem::path& logFile) {
    return logLinesOf(readFileText(logFile));
}

void writeFileText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace velkora::testing
