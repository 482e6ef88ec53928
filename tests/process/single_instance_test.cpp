#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace velkora {
namespace {

using testing::ChildProcess;
using testing::programsFolder;

#ifdef _WIN32
constexpr const char* kExtension = ".exe";
#else
constexpr const char* kExtension = "";
#endif

// Windows programs write their console text in text mode, with CR LF line ends.
std::string withUnixLineEnds(std::string text) {
    std::erase(text, '\r');
    return text;
}

std::filesystem::path program(const std::string& name) {
    return programsFolder() / (name + kExtension);
}

// Each test gets its own runtime folder for the POSIX lock file, so that it neither meets a
// real updater of the user nor a test running beside it. (Windows keys the named mutex to the
// logon session; under Wine that is the test's own prefix.)
class SingleInstance : public ::testing::Test {
  protected:
    std::vector<std::string> environment() const {
        return {"XDG_RUNTIME_DIR=" + runtimeFolder_.path().string()};
    }

  private:
    testing::TempFolder runtimeFolder_;
};

TEST_F(SingleInstance, ASecondUpdaterIsRefusedWhileTheFirstHoldsTheGuard) {
    ChildProcess first(program("instance_holder"), {}, environment());
    ASSERT_EQ(first.readLine(), "acquired");

    ChildProcess second(program("velkora-updater"), {}, environment());
    second.closeInput();
    EXPECT_EQ(withUnixLineEnds(second.readAll()),
              "\nAnother Velkora Firmware Updater is already running.\n\nPress Enter to close.");
    EXPECT_EQ(second.wait(), 0);

    ChildProcess third(program("instance_holder"), {}, environment());
    EXPECT_EQ(third.readLine(), "already running");
    EXPECT_EQ(third.wait(), 0);
}

TEST_F(SingleInstance, AKilledHolderDoesNotBlockTheNextStart) {
    {
        ChildProcess first(program("instance_holder"), {}, environment());
        ASSERT_EQ(first.readLine(), "acquired");
        first.kill();
        first.wait();
    }
    ChildProcess next(program("instance_holder"), {}, environment());
    EXPECT_EQ(next.readLine(), "acquired");
}

TEST_F(SingleInstance, TheGuardIsFreeAgainAfterANormalEnd) {
    {
        ChildProcess first(program("instance_holder"), {}, environment());
        ASSERT_EQ(first.readLine(), "acquired");
        first.closeInput();
        EXPECT_EQ(first.wait(), 0);
    }
    ChildProcess next(program("instance_holder"), {}, environment());
    EXPECT_EQ(next.readLine(), "acquired");
}

}  // namespace
}  // namespace velkora
