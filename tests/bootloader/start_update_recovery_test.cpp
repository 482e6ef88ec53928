#include <stdexcept>

#include "bootloader/bootloader_commands.h"
#include "bootloader/start_update.h"
#include "tests/support/scripted_connection_fixture.h"

namespace velkora {
namespace {

using testing::statusPayload;

constexpr std::uint8_t kStart = 0x03;
constexpr std::uint8_t kStatus = 0x02;
constexpr std::uint8_t kAbort = 0x04;
constexpr std::uint8_t kBusy = 5;
constexpr const char* kPriorLine = "Initial START_UPDATE returned BUSY; prior ";

// One answer of the script: command, status, and the GET_STATUS payload when it is one.
struct Step {
    std::uint8_t command;
    std::uint8_t status;
    std::vector<std::uint8_t> payload;
};

struct RecoveryCase {
    const char* name;
    std::vector<Step> script;           // answers from the first START_UPDATE on
    std::vector<std::string> logLines;  // the run log after the call
    std::string error;                  // empty when START_UPDATE ends up accepted
};

std::vector<std::uint8_t> status(std::uint8_t state, std::uint8_t active) {
    return statusPayload(state, active, 0x05, 17, 1000, 510);
}

std::string summary(const char* state, const char* active) {
    return std::string("state=") + state + " active=" + active +
           " last_command=0x05 last_status=FLASH_ERROR expected=1000 received=510";
}

class StartUpdateRecovery : public testing::ScriptedConnectionFixture,
                            public ::testing::WithParamInterface<RecoveryCase> {};

TEST_P(StartUpdateRecovery, FollowsTheStateTheBootloaderReports) {
    const RecoveryCase& c = GetParam();
    std::uint8_t sequence = 4;
    std::vector<int> expectedCommands;
    for (const Step& step : c.script) {
        answer(step.command, sequence++, step.status, step.payload);
        expectedCommands.push_back(step.command);
    }
    sequence = 4;
    std::string error;
    try {
        startUpdate(handle, 1000, 2, sequence, log);
    } catch (const std::runtime_error& failure) {
        error = failure.what();
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(commandsSent(), expectedCommands) << "nothing more is sent than the script answers";
    EXPECT_EQ(logLines(), c.logLines);
}

template <typename T>
std::vector<T> joined(std::vector<T> first, const std::vector<T>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// START_UPDATE refused BUSY with the bootloader in ERROR and no transfer active: it is aborted.
const std::vector<Step> kErrorThenAbort{
    {kStart, kBusy, {}}, {kStatus, 0, status(3, 0)}, {kAbort, 0, {}}};
const std::vector<std::string> kErrorAbortLog{
    kPriorLine + summary("ERROR", "0"),
    "START_UPDATE recovery: ERROR with no active transfer; sending ABORT_UPDATE"};
const std::string kIdleRetryLine =
    "START_UPDATE recovery: state is IDLE; retrying START_UPDATE once";

// A state after BUSY that the updater does not try to recover from.
RecoveryCase unsupported(const char* name, std::uint8_t state, std::uint8_t active,
                         const char* stateName, const char* activeName) {
    return {name,
            {{kStart, kBusy, {}}, {kStatus, 0, status(state, active)}},
            {kPriorLine + summary(stateName, activeName),
             "START_UPDATE recovery: unsupported state; no automatic recovery"},
            "Sending firmware START_UPDATE returned BUSY with an unsupported device state. " +
                summary(stateName, activeName)};
}

INSTANTIATE_TEST_SUITE_P(
    BusyTable, StartUpdateRecovery,
    ::testing::Values(
        RecoveryCase{"AcceptedAtOnce", {{kStart, 0, {}}}, {}, ""},
        RecoveryCase{"OtherFailureIsNotRecovered",
                     {{kStart, 6, {}}},
                     {},
                     "Sending firmware START_UPDATE failed: BAD_SIZE"},
        RecoveryCase{"ErrorAndIdleAbortsAndRetries",
                     joined(kErrorThenAbort, {{kStatus, 0, status(0, 0)}, {kStart, 0, {}}}),
                     joined(kErrorAbortLog,
                            {"START_UPDATE recovery: after ABORT_UPDATE " + summary("IDLE", "0"),
                             "START_UPDATE recovery: sending one retry after ABORT_UPDATE"}),
                     ""},
        RecoveryCase{"AbortThenIdleButActiveStillRetries",
                     joined(kErrorThenAbort, {{kStatus, 0, status(0, 1)}, {kStart, 0, {}}}),
                     joined(kErrorAbortLog,
                            {"START_UPDATE recovery: after ABORT_UPDATE " + summary("IDLE", "1"),
                             "START_UPDATE recovery: sending one retry after ABORT_UPDATE"}),
                     ""},
        RecoveryCase{"RetryAfterAbortStillBusy",
                     joined(kErrorThenAbort, {{kStatus, 0, status(0, 0)}, {kStart, kBusy, {}}}),
                     joined(kErrorAbortLog,
                            {"START_UPDATE recovery: after ABORT_UPDATE " + summary("IDLE", "0"),
                             "START_UPDATE recovery: sending one retry after ABORT_UPDATE",
                             "START_UPDATE recovery: retry failed status=BUSY"}),
                     "Sending firmware START_UPDATE retry failed: BUSY"},
        RecoveryCase{"AbortLeavesTheBootloaderNotIdle",
                     joined(kErrorThenAbort, {{kStatus, 0, status(3, 0)}}),
                     joined(kErrorAbortLog,
                            {"START_UPDATE recovery: after ABORT_UPDATE " + summary("ERROR", "0")}),
                     "Sending firmware ABORT_UPDATE did not return the bootloader to IDLE. " +
                         summary("ERROR", "0")},
        RecoveryCase{"AbortRefused",
                     {{kStart, kBusy, {}}, {kStatus, 0, status(3, 0)}, {kAbort, 7, {}}},
                     kErrorAbortLog,
                     "Sending firmware ABORT_UPDATE failed: NOT_ACTIVE"},
        RecoveryCase{"StatusRequestRefused",
                     {{kStart, kBusy, {}}, {kStatus, kBusy, {}}},
                     {},
                     "GET_STATUS failed: BUSY"},
        RecoveryCase{"IdleRetriesOnce",
                     {{kStart, kBusy, {}}, {kStatus, 0, status(0, 0)}, {kStart, 0, {}}},
                     {kPriorLine + summary("IDLE", "0"), kIdleRetryLine},
                     ""},
        RecoveryCase{"IdleButActiveRetriesAllTheSame",
                     {{kStart, kBusy, {}}, {kStatus, 0, status(0, 1)}, {kStart, 0, {}}},
                     {kPriorLine + summary("IDLE", "1"), kIdleRetryLine},
                     ""},
        RecoveryCase{"IdleButStillBusy",
                     {{kStart, kBusy, {}}, {kStatus, 0, status(0, 0)}, {kStart, kBusy, {}}},
                     {kPriorLine + summary("IDLE", "0"), kIdleRetryLine,
                      "START_UPDATE recovery: remained BUSY while GET_STATUS reported IDLE"},
                     "START_UPDATE remained BUSY while GET_STATUS reported IDLE; protocol/state "
                     "inconsistency. " +
                         summary("IDLE", "0")},
        RecoveryCase{"IdleRetryFailsOtherwise",
                     {{kStart, kBusy, {}}, {kStatus, 0, status(0, 0)}, {kStart, 17, {}}},
                     {kPriorLine + summary("IDLE", "0"), kIdleRetryLine,
                      "START_UPDATE recovery: retry failed status=FLASH_ERROR"},
                     "Sending firmware START_UPDATE retry failed: FLASH_ERROR"},
        RecoveryCase{"ActiveTransferIsNeverAborted",
                     {{kStart, kBusy, {}}, {kStatus, 0, status(1, 1)}},
                     {kPriorLine + summary("RECEIVING", "1"),
                      "START_UPDATE recovery: active transfer detected; no automatic abort"},
                     "An update is already active and cannot safely be replaced automatically. " +
                         summary("RECEIVING", "1")},
        RecoveryCase{"FinishedUpdateIsNotTouched",
                     {{kStart, kBusy, {}}, {kStatus, 0, status(2, 0)}},
                     {kPriorLine + summary("FINISHED", "0"),
                      "START_UPDATE recovery: previous update is FINISHED; no automatic abort"},
                     "The previous update has completed; the device may be handing off or "
                     "resetting. " +
                         summary("FINISHED", "0")},
        unsupported("ErrorWhileActiveIsUnsupported", 3, 1, "ERROR", "1"),
        unsupported("ReceivingWithoutTransferIsUnsupported", 1, 0, "RECEIVING", "0"),
        unsupported("FinishedWhileActiveIsUnsupported", 2, 1, "FINISHED", "1"),
        unsupported("UnknownStateIsUnsupported", 4, 0, "STATE_0x04", "0")),
    [](const ::testing::TestParamInfo<RecoveryCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora
