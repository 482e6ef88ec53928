#include "common/run_log.h"

#include <stdexcept>
#include <system_error>

#include "platform/new_file.h"

namespace velkora {
namespace {

constexpr int kMaxNameSuffix = 9999;

std::string formatLocalTime(std::time_t time, const char* format) {
    const std::tm* local = std::localtime(&time);
    if (local == nullptr) {
        return {};
    }
    char buffer[32];
    const std::size_t length = std::strftime(buffer, sizeof(buffer), format, local);
    return std::string(buffer, length);
}

// True when nothing is at the path, or when its status cannot be found out; anything there,
// a file, a folder or a link, takes the name.
bool nameIsFree(const std::filesystem::path& candidate) {
    std::error_code error;
    const auto status = std::filesystem::symlink_status(candidate, error);
    return error || !std::filesystem::exists(status);
}

struct NewFile {
    platform::NewFileResult result = platform::NewFileResult::NameTaken;
    std::filesystem::path path;
};

// Creates "<stem>", else "<stem>_1", "<stem>_2", ... up to _9999, each with the extension, in
// the first free name, and writes the bytes into it. A name taken between the look and the
// creation moves on to the next one: an existing file is never truncated. The result is
// NameTaken when every name is taken.
NewFile createInFirstFreeName(const std::filesystem::path& folder, const std::string& stem,
                              const std::string& extension, std::string_view bytes) {
    for (int n = 0; n <= kMaxNameSuffix; ++n) {
        std::string name = stem;
        if (n > 0) {
            name += "_" + std::to_string(n);
        }
        std::filesystem::path candidate = folder / (name + extension);
        if (!nameIsFree(candidate)) {
            continue;
        }
        const platform::NewFileResult result = platform::writeNewFile(candidate, bytes);
        if (result != platform::NewFileResult::NameTaken) {
            return {result, std::move(candidate)};
        }
    }
    return {};
}

}  // namespace

std::string fileTimestamp(std::time_t time) {
    return formatLocalTime(time, "%Y%m%d_%H%M%S");
}

std::string lineTimestamp(std::time_t time) {
    return formatLocalTime(time, "%Y-%m-%d %H:%M:%S");
}

RunLog::RunLog(std::filesystem::path path, std::ofstream stream, platform::Clock& clock)
    : path_(std::move(path)), stream_(std::move(stream)), clock_(clock) {}

void RunLog::writeLine(std::string_view text) {
    stream_ << lineTimestamp(clock_.calendarTime()) << ' ' << text << '\n';
    stream_.flush();
}

std::filesystem::path RunLog::writeFaultDump(std::string_view text) {
    NewFile dump = createInFirstFreeName(
        path_.parent_path(), "fault_dump_" + fileTimestamp(clock_.calendarTime()), ".txt", text);
    switch (dump.result) {
        case platform::NewFileResult::Written:
            return dump.path;
        case platform::NewFileResult::NameTaken:
            throw std::runtime_error("Unable to create a unique fault-dump file.");
        case platform::NewFileResult::CannotCreate:
            throw std::runtime_error("Unable to create fault-dump file.");
        case platform::NewFileResult::CannotWrite:
            break;
    }
    // A cut-off file would read like a shorter fault log: only a whole one may stay.
    std::error_code ignored;
    std::filesystem::remove(dump.path, ignored);
    throw std::runtime_error("Unable to write fault-dump file.");
}

RunLog openRunLog(const std::filesystem::path& programFolder, platform::Clock& clock) {
    const std::filesystem::path folder = programFolder / "logs";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw std::runtime_error("Unable to create logs folder: " + error.message());
    }
    // The log file is created empty, exclusively, and then appended to.
    NewFile file =
        createInFirstFreeName(folder, "update_" + fileTimestamp(clock.calendarTime()), ".log", {});
    if (file.result != platform::NewFileResult::Written) {
        throw std::runtime_error("Unable to create log file.");
    }
    std::ofstream stream(file.path, std::ios::out | std::ios::app);
    if (!stream) {
        throw std::runtime_error("Unable to create log file.");
    }
    return RunLog(std::move(file.path), std::move(stream), clock);
}

}  // namespace velkora
