#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include <string>
#include <vector>

#include "tests/process/child_process.h"

namespace velkora {
namespace {

using testing::consoleText;
using testing::DemoCopy;
using testing::readLogLines;

// The demo's adapter, present from the start and quick to change identity.
constexpr const char* kAdapter = R"([bootloader]
compatibility = 0x03
[application]
version = 1.4.0.12
compatibility = 0x03
[timing]
usb_frames = yes
detach_ms = 0
app_enumeration_ms = 0
bootloader_enumeration_ms = 0
)";

// Every line of a run log has its time stamp and the file ends with a whole line: a line is
// flushed whole as soon as it is written.
void expectWholeLines(const std::filesystem::path& log) {
    EXPECT_TRUE(testing::readFileText(log).ends_with('\n')) << log << ": the last line is cut";
    for (const std::string& line : readLogLines(log)) {
        EXPECT_FALSE(line.starts_with("<no time stamp>")) << log << ": " << line;
    }
}

// kill -9 in the middle of a transfer, after a restart from the menu: each run log on disk
// holds every line its run wrote, the last one up to the START_UPDATE recovery that preceded
// the data.
TEST(NothingLost, AKillDuringATransferLeavesEveryLineWrittenBeforeIt) {
    DemoCopy demo(std::string(kAdapter) + "[faults]\nSTART_UPDATE 1 = status BUSY\n");
    auto updater = demo.start();
    updater->writeInput("5\n1\n");
    const std::string console = consoleText(updater->readUntil("Sending firmware:  10%"));
    updater->signal(SIGKILL);
    updater->wait();
    ASSERT_TRUE(console.ends_with("Sending firmware:  10%")) << console;
    EXPECT_NE(console.find("Selection: Restarting updater...\n\n"), std::string::npos);

    const auto logs = demo.files("update_");
    ASSERT_EQ(logs.size(), 2u);
    expectWholeLines(logs[0]);
    expectWholeLines(logs[1]);
    EXPECT_EQ(readLogLines(logs[0]).back(), "user selected Restart updater");
    const std::vector<std::string> lines = readLogLines(logs[1]);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "Velkora Firmware Updater 2.0.0.0");
    EXPECT_EQ(lines[lines.size() - 3], "transfer start");
    EXPECT_EQ(lines.back(), "START_UPDATE recovery: state is IDLE; retrying START_UPDATE once");
}

// The disk fills up while the fault log is saved (a file-size limit that the run log stays
// under; writes beyond it fail instead of ending the process, because an ignored SIGXFSZ
// stays ignored in the child): the fault log is neither shown nor left behind cut off, where
// it could pass for a shorter one, and the run log holds every step.
TEST(NothingLost, AFaultLogThatCannotBeWrittenWholeIsNeitherShownNorKept) {
    std::string scenario = std::string(kAdapter) +
                           "[fault_dump]\nline = \"\\e[30;46m[EOL] DATA DUMP BEGIN\\e[0m\"\n"
                           "line = \"999\"\n";
    for (int i = 1; i <= 999; ++i) {
        scenario +=
            "line = \"" + std::to_string(1000 + i).substr(1) + " FLT_BIG_OC 65436 05120\"\n";
    }
    DemoCopy demo(scenario + "line = \"\\e[30;46m[EOL] DATA DUMP END\\e[0m\"\n");
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limited{64 * 1024, saved.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limited);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    auto updater = demo.start();
    std::signal(SIGXFSZ, previous);
    setrlimit(RLIMIT_FSIZE, &saved);

    updater->writeInput("2\n");
    updater->closeInput();
    const std::string console = consoleText(updater->readAll());
    EXPECT_EQ(updater->wait(), 1);
    EXPECT_TRUE(
        console.ends_with("Reading fault log...\n\nUpdate failed.\nUnable to write "
                          "fault-dump file.\n\nPress Enter to close."))
        << console;
    EXPECT_EQ(console.find("Total number of faults"), std::string::npos);
    EXPECT_TRUE(demo.files("fault_dump_").empty());

    const auto logs = demo.files("update_");
    ASSERT_EQ(logs.size(), 1u);
    expectWholeLines(logs[0]);
    const std::vector<std::string> lines = readLogLines(logs[0]);
    EXPECT_EQ(lines[lines.size() - 2], "fault dump parser verified records=999");
    EXPECT_EQ(lines.back(), "application EXIT succeeded");
}

}  // namespace
}  // namespace velkora
