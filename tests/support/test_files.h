#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The files of a test: a temporary folder of its own, whole files read and written, and the
// lines of a run log.
namespace velkora::testing {

// A fresh empty folder under the system's temporary folder, removed with everything in it
// when the object goes away.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The whole content of a file as bytes; empty when it cannot be read.
std::string readFileText(const std::filesystem::path& path);

// The texts of a run log's lines without line ends and without their time stamps
// ("2026-01-01 00:00:16 "), only whose shape is checked, so that a log reads the same in every
// time zone; a line without one is marked "<no time stamp> ".
std::vector<std::string> logLinesOf(const std::string& text);
std::vector<std::string> readLogLines(const std::filesystem::path& logFile);

// Writes the bytes into a file, creating or replacing it.
void writeFileText(const std::filesystem::path& path, const std::string& text);

}  // namespace velkora::testing
