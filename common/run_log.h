#pragma once

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace velkora {

// The run's diagnostic log: one file per run in `logs` beside the program, one time-stamped
// line per call, each flushed at once so that the file is complete up to its last line even
// when the process is killed. Fault-dump files are written into the same folder.
class RunLog {
  public:
    RunLog(std::filesystem::path path, std::ofstream stream, platform::Clock& clock);

    // Appends "<YYYY-MM-DD HH:MM:SS> <text>" and a line break. A failing write goes unnoticed:
    // the log must never stop the work it describes.
    void writeLine(std::string_view text);

    // Writes the text byte for byte into a new file "fault_dump_<stamp>[_N].txt" beside the log
    // file and returns its path. A name that is taken, even one taken while the file is being
    // created, moves on to the next suffix: no existing file is ever overwritten.
    std::filesystem::path writeFaultDump(std::string_view text);

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::ofstream stream_;
    platform::Clock& clock_;
};

// Creates `logs` in the program's folder if needed and opens a new log file in it. A run
// that starts within the same second as the one before it gets "update_<stamp>_<N>.log", so
// the earlier run's log is never overwritten.
RunLog openRunLog(const std::filesystem::path& programFolder, platform::Clock& clock);

// Local time as "%Y%m%d_%H%M%S" and as "%Y-%m-%d %H:%M:%S".
std::string fileTimestamp(std::time_t time);
std::string lineTimestamp(std::time_t time);

}  // namespace velkora
