#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace velkora {
namespace {

using testing::ChildProcess;

// The guard on real processes: the updater itself, and a holder that claims the guard as the
// updater does and keeps it until its input closes or it is killed. Each test has its own
// runtime folder for the lock file, so that it neither meets a real updater of the user nor a
// test running beside it.
class SingleInstance : public ::testing::Test {
  protected:
    std::unique_ptr<ChildProcess> start(const std::string& name) const {
        return std::make_unique<ChildProcess>(
            testing::programsFolder() / name, std::vector<std::string>{},
            std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime_.path().string()});
    }

  private:
    testing::TempFolder runtime_;
};

TEST_F(SingleInstance, ASecondUpdaterIsRefusedWhileTheFirstHoldsTheGuard) {
    auto first = start("instance_holder");
    ASSERT_EQ(first->readLine(), "acquired");
    auto second = start("velkora-updater");
    second->closeInput();
    std::string refused = second->readAll();
    std::erase(refused, '\r');
    EXPECT_EQ(refused,
              "\nAnother Velkora Firmware Updater is already running.\n\nPress Enter to close.");
    EXPECT_EQ(second->wait(), 0);
    EXPECT_EQ(start("instance_holder")->readLine(), "already running");
}

// Neither a holder that ends normally nor one that is killed keeps the guard.
TEST_F(SingleInstance, TheGuardIsFreeAfterAnEndOrAKill) {
    for (const bool killed : {false, true}) {
        auto first = start("instance_holder");
        ASSERT_EQ(first->readLine(), "acquired");
        killed ? first->kill() : first->closeInput();
        first->wait();
        EXPECT_EQ(start("instance_holder")->readLine(), "acquired") << killed;
    }
}

}  // namespace
}  // namespace velkora
