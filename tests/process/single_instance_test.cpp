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

// The command-line program as shipped reads its command line.
TEST(CliProgram, TellsItsVersion) {
    const testing::TempFolder runtime;
    testing::ChildProcess cli(
        {std::filesystem::read_symlink("/proc/self/exe").parent_path() / "velkora-cli",
         "--version"},
        runtime.path(), false);
    EXPECT_EQ(cli.readAll().substr(0, 12), "velkora-cli ");
    EXPECT_EQ(cli.wait(), 0);
}

}  // namespace
}  // namespace velkora
