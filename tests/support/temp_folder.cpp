#include "tests/support/temp_folder.h"

#include <atomic>
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

std::vector<std::string> readLogLines(const std::filesystem::path& logFile) {
    std::vector<std::string> lines;
    std::istringstream text(readFileText(logFile));
    for (std::string line; std::getline(text, line);) {
        if (line.ends_with('\r')) {
            line.pop_back();
        }
        lines.push_back(line.size() >= 20 ? line.substr(20) : line);  // "YYYY-MM-DD HH:MM:SS "
    }
    return lines;
}

void writeFileText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
}

}  // namespace velkora::testing
