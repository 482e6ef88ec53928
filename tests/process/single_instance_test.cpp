#include <gtest/gtest.h>

#include "tests/process/child_process.h"

namespace velkora {
namespace {

// The guard on real processes: while a demo waits for its adapter the updater itself is
// refused, and a demo that was killed leaves the guard free for the next one.
TEST(SingleInstance, IsRefusedWhileTheGuardIsHeldAndFreeAfterAKill) {
    const testing::DemoCopy copy("[adapter]\nidentity = absent\n");
    const auto first = copy.start();
    ASSERT_TRUE(first->readUntil("Press Q or Esc to cancel.").ends_with("cancel."));
    const auto second = copy.startUpdater();
    second->closeInput();
    EXPECT_EQ(testing::consoleText(second->readAll()),
              "\nAnother Velkora Firmware Updater is already running.\n\nPress Enter to close.");
    EXPECT_EQ(second->wait(), 0);
    first->signal(SIGKILL);
    first->wait();
    EXPECT_TRUE(copy.start()->readUntil("Press Q or Esc to cancel.").ends_with("cancel."));
}

// The command-line program as shipped, installed in a folder whose path is longer than the
// first guess at its length: it reads its command line, finds its package beside itself and
// reports the missing adapter after the package's summary.
TEST(CliProgram, FindsItsPackageInADeepFolder) {
    namespace fs = std::filesystem;
    const testing::TempFolder top, runtime;
    const fs::path built = testing::DemoCopy::programsFolder();
    const fs::path folder = top.path() / std::string(250, 'd');
    fs::create_directories(folder);
    fs::copy_file(built / "velkora-cli", folder / "velkora-cli");
    fs::copy(built.parent_path() / "demo/firmware", folder / "firmware",
             fs::copy_options::recursive);
    testing::ChildProcess cli({folder / "velkora-cli", "update", "--yes", "--wait", "0"},
                              runtime.path(), false);
    EXPECT_EQ(cli.readAll(),
              "Update firmware version: 1.5.0.0\nFirmware file: velkora_demo_1.5.0.0.sfb\n"
              "Update firmware SHA-256 verified.\n\nNo Velkora bootloader was found.\n");
    EXPECT_EQ(cli.wait(), 3);
}

}  // namespace
}  // namespace velkora
