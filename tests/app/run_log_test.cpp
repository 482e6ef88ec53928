#include "app/common/run_log.h"

#include <gtest/gtest.h>

#include <regex>
#include <stdexcept>

#include "tests/support/fake_services.h"
#include "tests/support/temp_folder.h"

namespace velkora {
namespace {

using testing::ManualClock;
using testing::readFileText;
using testing::TempFolder;
using testing::writeFileText;

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

// A program folder of the test's own, and a clock that stands still unless a test moves it.
class RunLogTest : public ::testing::Test {
  protected:
    std::string stamp() { return fileTimestamp(clock.calendarTime()); }

    TempFolder folder;
    ManualClock clock;
};

TEST_F(RunLogTest, CreatesTheLogsFolderAndReusesItLeavingOlderLogsAlone) {
    std::filesystem::path first;
    {
        RunLog log = openRunLog(folder.path(), clock);
        first = log.path();
        log.writeLine("first run");
    }
    EXPECT_EQ(first.parent_path(), folder.path() / "logs");
    clock.advance(5000);
    RunLog second = openRunLog(folder.path(), clock);
    second.writeLine("second run");
    EXPECT_NE(second.path(), first);
    EXPECT_NE(readFileText(first).find("first run"), std::string::npos);
}

TEST_F(RunLogTest, NamesTheFileAfterTheLocalStartTime) {
    RunLog log = openRunLog(folder.path(), clock);
    const std::string name = log.path().filename().string();
    EXPECT_TRUE(std::regex_match(name, std::regex(R"(update_\d{8}_\d{6}\.log)"))) << name;
    EXPECT_EQ(name, "update_" + stamp() + ".log");
}

TEST_F(RunLogTest, EveryLineStartsWithANineteenCharacterStampAndIsOnDiskAtOnce) {
    RunLog log = openRunLog(folder.path(), clock);
    log.writeLine("device serial=ABC");
    log.writeLine("");
    // Read while the log is still open: each line has been flushed.
    const std::string content = readFileText(log.path());
    const std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} ([^\r\n]*)\r?\n)");
    auto begin = std::sregex_iterator(content.begin(), content.end(), line);
    std::vector<std::string> texts;
    for (auto it = begin; it != std::sregex_iterator(); ++it) {
        texts.push_back((*it)[1]);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"device serial=ABC", ""}));
    EXPECT_EQ(content.substr(0, 20), lineTimestamp(clock.calendarTime()) + " ");
#ifdef _WIN32
    EXPECT_NE(content.find("ABC\r\n"), std::string::npos) << "text mode writes CR LF";
#endif
}

TEST_F(RunLogTest, TwoRunsInOneSecondKeepBothLogs) {
    RunLog first = openRunLog(folder.path(), clock);
    first.writeLine("first");
    RunLog second = openRunLog(folder.path(), clock);
    second.writeLine("second");
    RunLog third = openRunLog(folder.path(), clock);
    EXPECT_EQ(first.path().filename(), "update_" + stamp() + ".log");
    EXPECT_EQ(second.path().filename(), "update_" + stamp() + "_1.log");
    EXPECT_EQ(third.path().filename(), "update_" + stamp() + "_2.log");
    EXPECT_NE(readFileText(first.path()).find("first"), std::string::npos);
    EXPECT_NE(readFileText(second.path()).find("second"), std::string::npos);
}

TEST_F(RunLogTest, FaultDumpsInOneSecondGetSuffixesAndKeepTheirBytes) {
    RunLog log = openRunLog(folder.path(), clock);
    const std::string text("line\nnext\r\nzero\0byte", 20);
    const auto first = log.writeFaultDump(text);
    const auto second = log.writeFaultDump("b");
    const auto third = log.writeFaultDump("c");
    EXPECT_EQ(first.filename(), "fault_dump_" + stamp() + ".txt");
    EXPECT_EQ(second.filename(), "fault_dump_" + stamp() + "_1.txt");
    EXPECT_EQ(third.filename(), "fault_dump_" + stamp() + "_2.txt");
    EXPECT_EQ(first.parent_path(), log.path().parent_path());
    EXPECT_EQ(readFileText(first), text) << "no line-ending translation, zero bytes kept";
}

TEST_F(RunLogTest, AFolderSquattingADumpNameIsSkipped) {
    RunLog log = openRunLog(folder.path(), clock);
    std::filesystem::create_directory(folder.path() / "logs" / ("fault_dump_" + stamp() + ".txt"));
    EXPECT_EQ(log.writeFaultDump("x").filename(), "fault_dump_" + stamp() + "_1.txt");
}

// Filling a folder with ten thousand names takes seconds under Wine and the naming is the same
// portable code on every platform, so the two exhaustion tests run on POSIX builds only.
#ifndef _WIN32
// Fills the logs folder with every name a new file of this stem and extension may take.
void takeEveryName(const std::filesystem::path& logs, const std::string& stem,
                   const std::string& extension) {
    std::filesystem::create_directories(logs);
    writeFileText(logs / (stem + extension), "");
    for (int n = 1; n <= 9999; ++n) {
        writeFileText(logs / (stem + "_" + std::to_string(n) + extension), "");
    }
}

TEST_F(RunLogTest, AllDumpNamesTakenIsAnError) {
    RunLog log = openRunLog(folder.path(), clock);
    takeEveryName(folder.path() / "logs", "fault_dump_" + stamp(), ".txt");
    EXPECT_EQ(errorOf([&] { log.writeFaultDump("x"); }),
              "Unable to create a unique fault-dump file.");
}

TEST_F(RunLogTest, ALogsFolderThatCannotBeCreatedIsReported) {
    writeFileText(folder.path() / "logs", "a file where the folder should be");
    const std::string message = errorOf([&] { openRunLog(folder.path(), clock); });
    EXPECT_EQ(message.rfind("Unable to create logs folder: ", 0), 0u) << message;
    EXPECT_GT(message.size(), std::string("Unable to create logs folder: ").size());
}

TEST_F(RunLogTest, AnUnopenableLogFileIsReported) {
    // Every candidate name is taken, so no new log can be opened without overwriting one.
    takeEveryName(folder.path() / "logs", "update_" + stamp(), ".log");
    EXPECT_EQ(errorOf([&] { openRunLog(folder.path(), clock); }), "Unable to create log file.");
}
#endif

TEST_F(RunLogTest, AnUnwritableDumpFileIsReported) {
    // A log whose folder does not exist: no dump file can be created beside it.
    RunLog log(folder.path() / "missing" / "update.log", std::ofstream(), clock);
    EXPECT_EQ(errorOf([&] { log.writeFaultDump("x"); }), "Unable to create fault-dump file.");
}

}  // namespace
}  // namespace velkora
