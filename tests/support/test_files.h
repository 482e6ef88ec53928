#pragma once

#include <atomic>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

// The files of a test: a temporary folder of its own, whole files read and written, and the
// lines of a run log.
namespace velkora::testing {

// A fresh empty folder under the system's temporary folder, removed with everything in it
// when the object goes away.
class TempFolder {
  public:
    TempFolder() {
        static std::atomic<unsigned> counter{0};
        const std::string name = "velkora-test-" + std::to_string(std::random_device{}()) + "-" +
                                 std::to_string(counter++);
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The whole content of a file as bytes; empty when it cannot be read.
inline std::string readFileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

// Writes the bytes into a file, creating or replacing it.
inline void writeFileText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The texts of a run log's lines without line ends and without their time stamps
// ("2026-01-01 00:00:16 "), only whose shape is checked, so that a log reads the same in every
// time zone; a line without one is marked "<no time stamp> ".
inline std::vector<std::string> logLinesOf(const std::string& text) {
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

inline std::vector<std::string> readLogLines(const std::filesystem::path& logFile) {
    return logLinesOf(readFileText(logFile));
}

}  // namespace velkora::testing
