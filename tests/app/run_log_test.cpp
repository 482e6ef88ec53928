#include <gtest/gtest.h>

#include <regex>

#include "app/common/run_log.h"
#include "tests/platform/outcome.h"
#include "tests/support/fake_services.h"
#include "tests/support/temp_folder.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace velkora {
namespace {

using testing::outcomeOf;
using testing::readFileText;

TEST(RunLog, EachRunGetsANewLogOfStampedLinesThatAreOnDiskAtOnce) {
    testing::TempFolder folder;
    testing::ManualClock clock;
    const std::string start = fileTimestamp(clock.calendarTime());
    const std::string stamp = lineTimestamp(clock.calendarTime());
    RunLog first = openRunLog(folder.path(), clock);
    first.writeLine("device serial=ABC");
    first.writeLine("");
    RunLog second = openRunLog(folder.path(), clock);
    second.writeLine("second");
    RunLog third = openRunLog(folder.path(), clock);
    clock.advance(1000);
    RunLog later = openRunLog(folder.path(), clock);

    // Both stamps give the same local time, to the second.
    EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)"))) << stamp;
    EXPECT_EQ(std::regex_replace(stamp, std::regex("[-: ]"), ""),
              std::regex_replace(start, std::regex("_"), ""));
    const std::filesystem::path logs = folder.path() / "logs";
    EXPECT_EQ(first.path(), logs / ("update_" + start + ".log"));
    EXPECT_EQ(second.path(), logs / ("update_" + start + "_1.log"));
    EXPECT_EQ(third.path(), logs / ("update_" + start + "_2.log"));
    EXPECT_EQ(later.path(), logs / ("update_" + fileTimestamp(clock.calendarTime()) + ".log"));
    // Read while the logs are still open: each line has been flushed. Text mode writes CR LF on
    // Windows.
#ifdef _WIN32
    const std::string end = "\r\n";
#else
    const std::string end = "\n";
#endif
    EXPECT_EQ(readFileText(first.path()), stamp + " device serial=ABC" + end + stamp + " " + end);
    EXPECT_EQ(readFileText(second.path()) + readFileText(third.path()), stamp + " second" + end);

    // Fault dumps keep their bytes, beside the log, and never take a name that is taken.
    const std::string dumpStamp = fileTimestamp(clock.calendarTime());
    std::filesystem::create_directory(logs / ("fault_dump_" + dumpStamp + "_1.txt"));
    const std::string text("line\nnext\r\nzero\0byte", 20);
    EXPECT_EQ(later.writeFaultDump(text), logs / ("fault_dump_" + dumpStamp + ".txt"));
    EXPECT_EQ(later.writeFaultDump("b"), logs / ("fault_dump_" + dumpStamp + "_2.txt"));
    EXPECT_EQ(readFileText(logs / ("fault_dump_" + dumpStamp + ".txt")), text);

    // A log whose folder is gone: a failing line goes unnoticed, and no dump can be made.
    RunLog orphan(folder.path() / "gone" / "update.log", std::ofstream(), clock);
    orphan.writeLine("unnoticed");
    EXPECT_EQ(outcomeOf([&] { orphan.writeFaultDump("x"); }), "Unable to create fault-dump file.");
    std::filesystem::remove_all(logs);
    testing::writeFileText(logs, "a file where the folder should be");
    EXPECT_EQ(outcomeOf([&] {
                  openRunLog(folder.path(), clock);
              }).rfind("Unable to create logs folder: ", 0),
              0u);
}

// Ten thousand names take seconds to make under Wine, and the naming is the same portable code
// everywhere; file size limits are a POSIX facility.
#ifndef _WIN32
TEST(RunLog, TheLastNameIsSuffix9999AndNothingIsEverOverwritten) {
    testing::TempFolder disk;
    testing::ManualClock clock;
    // In memory where there is such a file system: a disk's journal makes this take seconds.
    const std::filesystem::path folder = std::filesystem::is_directory("/dev/shm")
                                             ? "/dev/shm" / disk.path().filename()
                                             : disk.path();
    RunLog log = openRunLog(folder, clock);
    clock.advance(1000);
    const std::string stamp = fileTimestamp(clock.calendarTime());
    for (const std::string kind : {"fault_dump_", "update_"}) {
        for (int n = 0; n < 9999; ++n) {
            std::filesystem::create_symlink(
                "taken", folder / "logs" /
                             (kind + stamp + (n == 0 ? "" : "_" + std::to_string(n)) +
                              (kind == "update_" ? ".log" : ".txt")));
        }
    }
    EXPECT_EQ(log.writeFaultDump("x").filename(), "fault_dump_" + stamp + "_9999.txt");
    EXPECT_EQ(openRunLog(folder, clock).path().filename(), "update_" + stamp + "_9999.log");
    EXPECT_EQ(outcomeOf([&] { log.writeFaultDump("x"); }),
              "Unable to create a unique fault-dump file.");
    EXPECT_EQ(outcomeOf([&] { openRunLog(folder, clock); }), "Unable to create log file.");
    EXPECT_FALSE(std::filesystem::exists(folder / "logs" / "taken"));
    std::filesystem::remove_all(folder);
}

// A fault log cut short would read like a shorter one: only a whole one may stay.
TEST(RunLog, ADumpThatCannotBeWrittenWholeIsRemoved) {
    testing::TempFolder folder;
    testing::ManualClock clock;
    RunLog log = openRunLog(folder.path(), clock);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 4;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string message = outcomeOf([&] { log.writeFaultDump("longer than four bytes"); });
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(message, "Unable to write fault-dump file.");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path() / "logs"), {}), 1);
}
#endif

}  // namespace
}  // namespace velkora
