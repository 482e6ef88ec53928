#include "app/entry_point.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app/common/exceptions.h"
#include "app/common/run_log.h"
#include "tests/support/fake_services.h"
#include "tests/support/temp_folder.h"

namespace velkora {
namespace {

using platform::InstanceClaimOutcome;
using platform::NativeString;
using testing::FakeServices;
using testing::TempFolder;

std::vector<NativeString> commandLine(std::initializer_list<const char*> words) {
    std::vector<NativeString> result;
    for (const char* word : words) {
        result.push_back(platform::fromUtf8(word));
    }
    return result;
}

struct ClosingCase {
    const char* name;
    InstanceClaimOutcome claim;
    std::function<void()> runBody;
    std::string expectedOutput;  // without the closing pause
    bool waitsForEnter;
    int exitCode;
};

constexpr const char* kPause = "\nPress Enter to close.";

class EntryPointClosing : public ::testing::TestWithParam<ClosingCase> {};

// Every way a run can end becomes one closing message, a pause where there is something to
// read, and the exit code.
TEST_P(EntryPointClosing, PrintsMessagePausesAndSetsExitCode) {
    const ClosingCase& c = GetParam();
    TempFolder folder;
    FakeServices fake(folder.path(), "\n");
    fake.host.claimOutcome = c.claim;
    int runs = 0;
    const int exitCode = runEntryPoint(fake.services(), commandLine({"updater"}), [&](bool) {
        ++runs;
        c.runBody();
    });
    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_EQ(fake.output(), c.expectedOutput + (c.waitsForEnter ? kPause : ""));
    EXPECT_EQ(runs, c.claim == InstanceClaimOutcome::Acquired ? 1 : 0);
    EXPECT_EQ(fake.host.claimsHeld, 0) << "the guard is released when the entry point returns";
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, EntryPointClosing,
    ::testing::Values(
        ClosingCase{"ClaimFails", InstanceClaimOutcome::Failed, [] {},
                    "\nUnable to start the updater.\n", true, 1},
        ClosingCase{"AlreadyRunning", InstanceClaimOutcome::AlreadyRunning, [] {},
                    "\nAnother Velkora Firmware Updater is already running.\n", true, 0},
        ClosingCase{"RunReturns", InstanceClaimOutcome::Acquired, [] {}, "", false, 0},
        ClosingCase{"CancelledLoudly", InstanceClaimOutcome::Acquired,
                    [] { throw UserCancelled(false); }, "\nUpdate cancelled.\n", true, 0},
        ClosingCase{"CancelledQuietly", InstanceClaimOutcome::Acquired,
                    [] { throw UserCancelled(true); }, "", false, 0},
        ClosingCase{"ConfigurationFailure", InstanceClaimOutcome::Acquired,
                    [] { throw ConfigurationFailure("STORE_CONFIG failed: BUSY"); },
                    "\nConfiguration failed.\nSTORE_CONFIG failed: BUSY\n", true, 1},
        ClosingCase{"RuntimeError", InstanceClaimOutcome::Acquired,
                    [] { throw std::runtime_error("GET_INFO failed: BUSY"); },
                    "\nUpdate failed.\nGET_INFO failed: BUSY\n", true, 1},
        ClosingCase{"OtherStandardException", InstanceClaimOutcome::Acquired,
                    [] { throw std::out_of_range("stoul argument out of range"); },
                    "\nUpdate failed.\nstoul argument out of range\n", true, 1}),
    [](const ::testing::TestParamInfo<ClosingCase>& row) { return row.param.name; });

// Each run after a restart is handed the service flag of the command line again.
TEST(EntryPoint, RestartRunsAgainWithANewLogUnderTheSameGuardAndServiceFlag) {
    TempFolder folder;
    FakeServices fake(folder.path());
    std::vector<bool> serviceFlags;
    std::vector<std::filesystem::path> logs;
    const int exitCode = runEntryPoint(fake.services(), commandLine({"updater", "--Service"}),
                                       [&](bool serviceMode) {
                                           serviceFlags.push_back(serviceMode);
                                           EXPECT_EQ(fake.host.claimsHeld, 1);
                                           RunLog log = openRunLog(folder.path(), fake.clock);
                                           logs.push_back(log.path());
                                           if (serviceFlags.size() < 3) {
                                               throw RestartRequested();
                                           }
                                       });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(serviceFlags, (std::vector<bool>{true, true, true}));
    ASSERT_EQ(logs.size(), 3u);
    EXPECT_NE(logs[0], logs[1]);
    EXPECT_NE(logs[1], logs[2]);
    EXPECT_EQ(fake.output(), "") << "a restart prints nothing of its own";
}

struct SwitchCase {
    std::vector<const char*> arguments;
    bool serviceMode;
};

class ServiceSwitch : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(ServiceSwitch, MatchesWithoutRegardToCaseAtAnyPosition) {
    std::vector<NativeString> arguments;
    for (const char* word : GetParam().arguments) {
        arguments.push_back(platform::fromUtf8(word));
    }
    EXPECT_EQ(isServiceModeRequested(arguments), GetParam().serviceMode);
}

INSTANTIATE_TEST_SUITE_P(Arguments, ServiceSwitch,
                         ::testing::Values(SwitchCase{{"updater"}, false},
                                           SwitchCase{{"updater", "--service"}, true},
                                           SwitchCase{{"updater", "--SERVICE"}, true},
                                           SwitchCase{{"updater", "--SerVice"}, true},
                                           SwitchCase{{"updater", "x", "y", "--service"}, true},
                                           SwitchCase{{"updater", "-service"}, false},
                                           SwitchCase{{"updater", "--service2"}, false},
                                           SwitchCase{{"updater", "--servic"}, false},
                                           SwitchCase{{"--service"}, false}));

}  // namespace
}  // namespace velkora
