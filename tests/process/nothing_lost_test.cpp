#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "tests/process/demo_copy.h"
#include "tests/support/log_lines.h"

namespace velkora {
namespace {

using testing::ChildProcess;
using testing::consoleText;
using testing::DemoCopy;
using testing::readFileText;
using testing::readLogLines;

// The demo's adapter, present from the start and quick to change identity, so that a test
// spends its time on what it proves, not on waiting for re-enumeration.
constexpr const char* kAdapter = R"([adapter]
serial = 2050384E3436

[bootloader]
version = 1.3.0.0
hardware_version = 2.1.0.0
compatibility = 0x03

[application]
version = 1.4.0.12
hwif = 1.0.0.0
compatibility = 0x03

[timing]
usb_frames = yes
detach_ms = 0
app_enumeration_ms = 0
bootloader_enumeration_ms = 0

[fault_dump]
line = "\e[30;46m[EOL] DATA DUMP BEGIN\e[0m"
line = "002"
line = "001 FLT_BIG_OC 65436 05120"
line = "002 PD_SOFT_RESET 002 00012 00003"
line = "\e[30;46m[EOL] DATA DUMP END\e[0m"
)";

constexpr const char* kClosing = "\n\nPress Enter to close.";

// Every line of a run log begins with a 19-character time stamp and a space, and the file
// ends with a whole line.
void expectWholeLines(const std::filesystem::path& log) {
    const std::string raw = readFileText(log);
    ASSERT_FALSE(raw.empty()) << log;
    EXPECT_EQ(raw.back(), '\n') << log << ": the last line is cut";
    std::size_t start = 0;
    while (start < raw.size()) {
        const std::size_t end = raw.find('\n', start);
        const std::string line = raw.substr(start, end - start);
        EXPECT_TRUE(line.size() > 20 && line[4] == '-' && line[10] == ' ' && line[13] == ':' &&
                    line[19] == ' ')
            << log << ": " << line;
        start = end == std::string::npos ? raw.size() : end + 1;
    }
}

std::string manifestDigest(const DemoCopy& demo) {
    const std::string manifest = readFileText(demo.folder() / "firmware" / "update_manifest.json");
    const std::string key = "\"sfb_sha256\": \"";
    const std::size_t at = manifest.find(key) + key.size();
    return manifest.substr(at, 64);
}

// kill -9 in the middle of a transfer: the run log on disk holds every line the run wrote
// before, because each line is flushed on its own. The run's findings, as the console showed
// them, are all in the log, and so is the START_UPDATE recovery that preceded the data.
TEST(NothingLost, AKillDuringATransferLeavesEveryLineWrittenBeforeIt) {
    DemoCopy demo(std::string(kAdapter) + "[faults]\nSTART_UPDATE 1 = status BUSY\n");
    auto updater = demo.start();
    std::string output = updater->readUntil("Selection: ");
    updater->writeInput("1\n");
    output += updater->readUntil("Sending firmware:  10%");
    updater->kill();
    output += updater->readAll();
    updater->wait();

    const std::string console = consoleText(output);
    ASSERT_NE(console.find("Sending firmware:  10%"), std::string::npos) << console;
    EXPECT_EQ(console.find("Sending firmware: 100%"), std::string::npos)
        << "the transfer was to be cut in the middle";

    const auto logs = demo.files("update_");
    ASSERT_EQ(logs.size(), 1u);
    expectWholeLines(logs[0]);
    std::vector<std::string> lines = readLogLines(logs[0]);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[1].find(" version "), std::string::npos) << lines[1];
    lines.erase(lines.begin() + 1);  // the operating system's version differs per machine

    // What the console showed, and the line in which the run log holds the same fact.
    const std::vector<std::pair<std::string, std::string>> shown{
        {"Update firmware version: 1.5.0.0", "package firmware_version=1.5.0.0"},
        {"Firmware file: velkora_demo_1.5.0.0.sfb", "package sfb_file=velkora_demo_1.5.0.0.sfb"},
        {"Velkora HID bootloader found.", "Velkora HID bootloader detected"},
        {"Bootloader version: 1.3.0.0", "boot version=1.3.0.0"},
        {"Device hardware version: 2.1.0.0", "boot hardware_version=2.1.0.0"},
        {"Current application version: 1.4.0.12", "app swver=1.4.0.12"},
        {"Current application HWIF: 1.0.0.0", "app hwif=1.0.0.0"},
        {"Sending firmware:", "transfer start"}};
    for (const auto& [onConsole, inLog] : shown) {
        EXPECT_NE(console.find(onConsole), std::string::npos) << onConsole;
        EXPECT_NE(std::find(lines.begin(), lines.end(), inLog), lines.end()) << inLog;
    }
    const std::vector<std::string> expected{
        "Velkora Firmware Updater 2.0.0.0",
        "package firmware_version=1.5.0.0",
        "package sfb_file=velkora_demo_1.5.0.0.sfb",
        "package compatibility=0x03",
        "package sfb_sha256=" + manifestDigest(demo),
        "Velkora HID bootloader detected",
        "GET_INFO succeeded; firmware update mode committed",
        "device path=\\\\?\\hid#vid_0483&pid_a5b9#7&2a1b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-"
        "001111000030}",
        "device manufacturer=Velkora",
        "device product=Velkora Bootloader",
        "device serial=2050384E3436",
        "boot protocol=1.2",
        "boot version=1.3.0.0",
        "boot hardware_version=2.1.0.0",
        "boot compatibility=0x03",
        "app valid=yes",
        "app swver=1.4.0.12",
        "app hwif=1.0.0.0",
        "app compatibility=0x03",
        "transfer start",
        "Initial START_UPDATE returned BUSY; prior state=IDLE active=0 last_command=0x07 "
        "last_status=OK expected=0 received=0",
        "START_UPDATE recovery: state is IDLE; retrying START_UPDATE once"};
    EXPECT_EQ(lines, expected);
}

// Restarts in quick succession start runs within the same second: each run keeps a log file
// of its own, and none of them overwrites another.
TEST(NothingLost, RestartsWithinOneSecondKeepEveryRunLog) {
    DemoCopy demo(kAdapter);
    auto updater = demo.start();
    updater->writeInput("5\n5\n5\n5\n5\n4\n");
    updater->closeInput();
    const std::string console = consoleText(updater->readAll());
    EXPECT_EQ(updater->wait(), 0) << console;

    const auto logs = demo.files("update_");
    ASSERT_EQ(logs.size(), 6u) << console;
    bool sameSecond = false;
    for (std::size_t i = 0; i < logs.size(); ++i) {
        expectWholeLines(logs[i]);
        const std::vector<std::string> lines = readLogLines(logs[i]);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), "Velkora Firmware Updater 2.0.0.0");
        EXPECT_EQ(lines.back(), i + 1 < logs.size()
                                    ? "user selected Restart updater"
                                    : "user exited and left Velkora in bootloader mode");
        sameSecond = sameSecond || logs[i].filename().string().ends_with("_1.log");
    }
    EXPECT_TRUE(sameSecond) << "six runs should not take six seconds; no two shared a second";
}

// Fault logs viewed one after another until three of them fall into the same second: their
// files are named plainly, then with _1 and _2, and each holds the whole fault log as shown.
TEST(NothingLost, FaultDumpsWithinOneSecondGetNumberedNames) {
    DemoCopy demo(kAdapter);
    auto updater = demo.start();
    std::string output = updater->readUntil("Selection: ");
    const auto thirdInOneSecond = [&demo] {
        for (const auto& file : demo.files("fault_dump_")) {
            if (file.filename().string().ends_with("_2.txt")) {
                return true;
            }
        }
        return false;
    };
    constexpr int kMostViews = 60;
    int views = 0;
    while (views < kMostViews && !thirdInOneSecond()) {
        updater->writeInput("2\n");
        output += updater->readUntil("Selection: ");
        ++views;
    }
    updater->writeInput("4\n");
    updater->closeInput();
    output += updater->readAll();
    EXPECT_EQ(updater->wait(), 0);
    const std::string console = consoleText(output);

    const auto dumps = demo.files("fault_dump_");
    ASSERT_EQ(dumps.size(), static_cast<std::size_t>(views));
    // Per second, in the order written: the plain name, then _1, _2 and so on.
    std::map<std::string, int> perSecond;
    std::vector<std::string> savedTo;
    for (const auto& log : demo.files("update_")) {
        for (const std::string& line : readLogLines(log)) {
            if (line.starts_with("fault dump saved_to=")) {
                savedTo.push_back(std::filesystem::path(line.substr(20)).filename().string());
            }
        }
    }
    ASSERT_EQ(savedTo.size(), dumps.size());
    bool sawSecondSuffix = false;
    for (const std::string& name : savedTo) {
        const std::string stamp = name.substr(11, 15);  // "fault_dump_" YYYYMMDD_HHMMSS
        const int earlier = perSecond[stamp]++;
        const std::string expected =
            "fault_dump_" + stamp + (earlier == 0 ? "" : "_" + std::to_string(earlier)) + ".txt";
        EXPECT_EQ(name, expected);
        sawSecondSuffix = sawSecondSuffix || earlier == 2;
    }
    EXPECT_TRUE(sawSecondSuffix) << views << " views, none three within one second";

    std::string text = readFileText(dumps.front());
    EXPECT_TRUE(text.starts_with("Total number of faults: 2\r\n")) << text;
    for (const auto& dump : dumps) {
        EXPECT_EQ(readFileText(dump), text) << dump;
    }
    std::erase(text, '\r');
    EXPECT_NE(console.find(text), std::string::npos) << "the saved fault log is the one shown";
}

// A file where the log folder should be: the run ends before any device work, with the
// system's own words for why the folder could not be made.
TEST(NothingLost, ALogsFolderThatCannotBeMadeEndsTheRunWithTheSystemsReason) {
    DemoCopy demo(kAdapter);
    testing::writeFileText(demo.logs(), "not a folder");
    std::error_code reason;
    std::filesystem::create_directories(demo.logs(), reason);
    ASSERT_TRUE(reason);

    auto updater = demo.start();
    updater->closeInput();
    const std::string console = consoleText(updater->readAll());
    EXPECT_EQ(updater->wait(), 1);
    EXPECT_EQ(console,
              "Velkora Firmware Updater\nUpdater version: 2.0.0.0\n\n\nUpdate failed.\n"
              "Unable to create logs folder: " +
                  reason.message() + kClosing);
}

// The log folder is replaced by a file while the updater waits at its menu, so that the fault
// log cannot be saved: the fault log is then not shown either, the application is told to
// exit, and the run log, which is still open, holds every step up to there.
TEST(NothingLost, AFaultLogThatCannotBeSavedIsNotShown) {
    DemoCopy demo(kAdapter);
    auto updater = demo.start();
    updater->readUntil("Selection: ");
    const auto logs = demo.files("update_");
    ASSERT_EQ(logs.size(), 1u);
    const std::filesystem::path moved = demo.folder() / "logs moved away";
    std::error_code error;
    std::filesystem::rename(demo.logs(), moved, error);
    if (error) {
        GTEST_SKIP() << "this system cannot move a folder that holds an open file: "
                     << error.message();
    }
    testing::writeFileText(demo.logs(), "not a folder");

    updater->writeInput("2\n");
    updater->closeInput();
    const std::string console = consoleText(updater->readAll());
    EXPECT_EQ(updater->wait(), 1);
    EXPECT_TRUE(
        console.ends_with("Starting fault-log mode...\n"
                          "Starting device and waiting for its management interface...\n"
                          "Reading fault log...\n"
                          "\nUpdate failed.\nUnable to create fault-dump file." +
                          std::string(kClosing)))
        << console;
    EXPECT_EQ(console.find("Total number of faults"), std::string::npos);

    const std::vector<std::string> lines = readLogLines(moved / logs[0].filename());
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "fault dump parser verified records=2");
    EXPECT_EQ(lines.back(), "application EXIT succeeded");
}

#ifndef _WIN32
// A fault log of 999 records whose text outgrows a file-size limit that the run log stays
// under, as on a disk that fills up while the fault log is saved.
std::string adapterWithLongFaultLog() {
    std::string text = std::string(kAdapter).substr(0, std::string(kAdapter).find("[fault_dump]"));
    text += "[fault_dump]\nline = \"\\e[30;46m[EOL] DATA DUMP BEGIN\\e[0m\"\nline = \"999\"\n";
    for (int i = 1; i <= 999; ++i) {
        const std::string index = std::to_string(1000 + i).substr(1);
        text += "line = \"" + index + " FLT_BIG_OC 65436 05120\"\n";
    }
    return text + "line = \"\\e[30;46m[EOL] DATA DUMP END\\e[0m\"\n";
}

// Starts the demo with a limit on the size of every file it writes. Writes beyond the limit
// fail (EFBIG) instead of ending the process, because an ignored SIGXFSZ stays ignored in
// the child.
std::unique_ptr<ChildProcess> startWithFileSizeLimit(const DemoCopy& demo, rlim_t bytes) {
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    auto child = demo.start();
    std::signal(SIGXFSZ, previous);
    setrlimit(RLIMIT_FSIZE, &saved);
    return child;
}

// The disk fills up while the fault log is saved: the fault log is not shown, no cut-off
// file that could pass for a shorter fault log is left behind, and the run log holds every
// step.
TEST(NothingLost, AFaultLogThatCannotBeWrittenWholeIsNeitherShownNorKept) {
    DemoCopy demo(adapterWithLongFaultLog());
    auto updater = startWithFileSizeLimit(demo, 64 * 1024);
    updater->writeInput("2\n");
    updater->closeInput();
    const std::string console = consoleText(updater->readAll());
    EXPECT_EQ(updater->wait(), 1);
    EXPECT_TRUE(
        console.ends_with("Reading fault log...\n\nUpdate failed.\nUnable to write "
                          "fault-dump file." +
                          std::string(kClosing)))
        << console.substr(console.size() > 300 ? console.size() - 300 : 0);
    EXPECT_EQ(console.find("Total number of faults"), std::string::npos);
    EXPECT_TRUE(demo.files("fault_dump_").empty());

    const auto logs = demo.files("update_");
    ASSERT_EQ(logs.size(), 1u);
    expectWholeLines(logs[0]);
    const std::vector<std::string> lines = readLogLines(logs[0]);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "fault dump parser verified records=999");
    EXPECT_EQ(lines.back(), "application EXIT succeeded");
}
#endif

// STORE_CONFIG is carried out but its answer never arrives, as the adapter restarts at once:
// the user is told that the outcome is uncertain, and nothing more is sent to it.
TEST(NothingLost, AStoreWhoseAnswerIsLostIsReportedAsUncertainWithoutExit) {
    DemoCopy demo(std::string(kAdapter) + "[faults]\nSTORE_CONFIG 1 = answer_lost\n");
    auto updater = demo.start();
    updater->writeInput("6\n3\ny\n");
    updater->closeInput();
    const std::string console = consoleText(updater->readAll());
    EXPECT_EQ(updater->wait(), 1);
    EXPECT_TRUE(console.ends_with(
        "Store staged settings and restart device? [Y/N]: \nConfiguration failed.\n"
        "STORE_CONFIG outcome is uncertain; the device may have stored settings and reset. "
        "Reconnect and inspect its configuration before trying again. Detail: HID read failed "
        "(Windows error 1167)." +
        std::string(kClosing)))
        << console;
    EXPECT_EQ(console.find("Store accepted."), std::string::npos);

    const auto logs = demo.files("update_");
    ASSERT_EQ(logs.size(), 1u);
    const std::vector<std::string> lines = readLogLines(logs[0]);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              "STORE_CONFIG outcome uncertain: HID read failed (Windows error 1167).");
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("EXIT"), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace velkora
