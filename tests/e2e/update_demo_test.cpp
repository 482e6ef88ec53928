#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/demo_program.h"
#include "tests/support/log_lines.h"

namespace velkora::testing {
namespace {

std::filesystem::path onlyFileIn(const std::filesystem::path& folder, const std::string& prefix) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(prefix)) {
            found.push_back(entry.path());
        }
    }
    EXPECT_EQ(found.size(), 1u) << prefix << " in " << folder.string();
    return found.empty() ? folder / "missing" : found.front();
}

// The demo as a new user runs it: its own folder with the demo package and the default
// scenario beside the program (a copy, so that its run log stays with the test), the answers
// typed ahead: 1 to update the firmware, Enter to close once it is done. The simulated adapter
// plugs in two seconds after the wait begins and runs in real time on a full-speed USB bus.
TEST(RunDemo, UpdatesTheSimulatedAdaptersFirmwareForANewUser) {
    const InstalledDemo demo;
    const std::filesystem::path image = onlyFileIn(demo.folder() / "firmware", "velkora_demo_");
    const std::string imageBytes = std::to_string(std::filesystem::file_size(image));

    const DemoOutput run = demo.run({}, "1\n\n");
    const std::string& console = run.console;
    EXPECT_EQ(run.exitCode, 0) << console;

    EXPECT_TRUE(appearInOrder(
        console, {"Velkora Firmware Updater\nUpdater version: 2.0.0.0\n\n",
                  "Update firmware version: 1.5.0.0\nFirmware file: " + image.filename().string() +
                      "\nUpdate firmware SHA-256 verified.\n\n",
                  "Waiting for Velkora. Press Q or Esc to cancel.\n",
                  "Velkora HID bootloader found. Securing firmware update mode...\n",
                  "Current application version: 1.4.0.12\n", "From: 1.4.0.12\nTo:   1.5.0.0\n\n",
                  "6. Configuration\nSelection: ", "Sending firmware:   1%",
                  "Sending firmware: 100%\n"
                  "Installing and verifying...\n"
                  "Update complete.\n\n"
                  "Press R to restart updater and wait for another Velkora.\n"
                  "Press Enter to close.\n"
                  "Selection: "}));
    EXPECT_THAT(console, ::testing::EndsWith("Selection: "));

    const std::vector<std::string> log =
        readLogLines(onlyFileIn(demo.folder() / "logs", "update_"));
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], "Sending firmware END_UPDATE status=OK bytes=" + imageBytes);
    EXPECT_THAT(log[log.size() - 2],
                ::testing::AllOf(::testing::StartsWith("transfer complete seconds="),
                                 ::testing::EndsWith(" bytes=" + imageBytes)));
    EXPECT_EQ(log.back(), "user closed updater after update complete");
}

}  // namespace
}  // namespace velkora::testing
