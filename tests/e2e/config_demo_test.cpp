#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/config_transcript_support.h"
#include "tests/e2e/demo_program.h"
#include "tests/e2e/transcript_harness.h"
#include "tests/support/log_lines.h"

namespace velkora::testing {
namespace {

std::vector<std::string> configurationLines(const std::vector<std::string>& log) {
    std::vector<std::string> lines;
    bool inMode = false;
    for (const std::string& line : log) {
        inMode = inMode || line.starts_with("START_APP_USB");
        if (inMode) {
            lines.push_back(line);
        }
    }
    return lines;
}

// The demo as a new user meets it, as a real process in real time with the answers piped
// into its standard input: two items changed and stored; the simulated adapter restarts, and
// Configuration opened again in the next run shows the stored values with no marks.
TEST(ConfigurationDemo, StoredChangesAreWhatTheNextRunShows) {
    const InstalledDemo demo;
    // Menu choice 6; LED mode to NoFlash; Samsung recovery to Compatibility; store. In the
    // next run: choice 6 again, leave without storing; in the run after that, leave the
    // adapter in its bootloader.
    const DemoOutput run = demo.run({}, "6\n1\n2\n1\n1\n7\n2\n3\ny\n6\n4\n4\n");
    const std::string& printed = run.console;
    EXPECT_EQ(run.exitCode, 0) << printed;

    const std::vector<std::string> oneChange = withLine(kStoredItems, 2, "2. LED mode: NoFlash *");
    const std::vector<std::string> twoChanges =
        withLine(oneChange, 7, "7. Samsung recovery: Compatibility *");
    const std::vector<std::string> storedAfterwards = withLine(
        withLine(kStoredItems, 2, "2. LED mode: NoFlash"), 7, "7. Samsung recovery: Compatibility");

    const std::string expected =
        "Starting configuration mode...\n"
        "Starting device and waiting for its management interface...\n" +
        stagedView(kStoredItems) + kConfigMenu +
        "Item number (Enter to cancel): LED mode values:\n0. Default\n1. NoFlash\n2. Off\n"
        "Value (Enter to cancel): " +
        stagedView(oneChange) + kConfigMenu +
        "Item number (Enter to cancel): Samsung recovery values:\n0. Disabled\n1. Enabled\n"
        "2. Compatibility\nValue (Enter to cancel): " +
        stagedView(twoChanges) + kConfigMenu + stagedView(twoChanges) +
        "Store staged settings and restart device? [Y/N]: Store accepted. Device is "
        "restarting.\nReturning to adapter detection...\n";
    const std::size_t first = printed.find("Starting configuration mode...");
    ASSERT_NE(first, std::string::npos) << printed;
    EXPECT_EQ(printed.substr(first, expected.size()), expected);

    const std::string nextRun =
        "Starting configuration mode...\n"
        "Starting device and waiting for its management interface...\n" +
        stagedView(storedAfterwards) + kConfigMenu +
        "Exited without storing changes.\nReturning to adapter detection...\n";
    const std::size_t second = printed.find("Starting configuration mode...", first + 1);
    ASSERT_NE(second, std::string::npos) << printed;
    EXPECT_EQ(printed.substr(second, nextRun.size()), nextRun);
    EXPECT_TRUE(printed.ends_with("Leaving the Velkora in bootloader mode.\n")) << printed;

    // Three runs, three run logs: the store, the look afterwards, the adapter left.
    std::vector<std::vector<std::string>> logs;
    for (const auto& entry : std::filesystem::directory_iterator(demo.folder() / "logs")) {
        logs.push_back(configurationLines(readLogLines(entry.path())));
    }
    std::sort(logs.begin(), logs.end());
    EXPECT_EQ(
        logs,
        (std::vector<std::vector<std::string>>{
            {},
            {"START_APP_USB succeeded for configuration", "Velkora management interface detected",
             "configuration application identity and initial snapshot verified",
             "SET_CONFIG_ITEM accepted item=0x02 value=1",
             "SET_CONFIG_ITEM accepted item=0x07 value=2",
             "STORE_CONFIG returned OK; application HID handle closed before device "
             "reset",
             "configuration operation complete; restarting adapter detection"},
            {"START_APP_USB succeeded for configuration", "Velkora management interface detected",
             "configuration application identity and initial snapshot verified",
             "application EXIT succeeded",
             "configuration operation complete; restarting adapter detection"}}));
}

}  // namespace
}  // namespace velkora::testing
