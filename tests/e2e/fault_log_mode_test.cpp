#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/fault_log_session.h"

namespace velkora::testing {
namespace {

using fault_log::kHealthyAdapter;

// Fault-log mode through the program's real entry point, against the simulated adapter: the
// user picks "2. View fault log" from the menu and answers the mode's questions; the adapter
// is healthy or carries one fault. Each row checks what the user sees of the mode, the mode's
// run-log lines, what the adapter received from the hand-over on, the exit code, and the
// saved fault-log file. The per-report lines of the download are left out of the log: they
// are the download's own business, proven over a scripted port.
struct ModeCase {
    const char* name;
    std::string scenario = kHealthyAdapter;  // besides a healthy adapter whose log is empty
    std::vector<std::string> arguments = {};
    UserScript user = fault_log::typed({"2"});
    std::string console;  // from "Starting fault-log mode..." to the mode's last text
    std::vector<std::string> log;
    std::vector<std::string> requests = {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"};
    bool saved = false;  // one fault-log file was saved, holding exactly the text shown
    int exitCode = 1;
};

void PrintTo(const ModeCase& row, std::ostream* out) {
    *out << row.name;
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const std::vector<std::string>& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

std::string failed(const std::string& message) {
    return "\nUpdate failed.\n" + message + "\n\nPress Enter to close.";
}

const std::string kStarting =
    "Starting fault-log mode...\nStarting device and waiting for its management interface...\n";
const std::string kReading = "Reading fault log...\n";
const std::string kEmptyLog = "\nTotal number of faults: 0\r\nNo faults are stored.\r\n";
const std::string kShownEmpty = kStarting + kReading + kEmptyLog;
const std::string kReturning = "Returning to adapter detection...\n\n";

const std::vector<std::string> kHandOver{"START_APP_USB succeeded; waiting for application HID",
                                         "Velkora management interface detected",
                                         "Velkora management interface opened"};
const std::vector<std::string> kDumpAccepted{"FAULT_DUMP sending command sequence=1",
                                             "FAULT_DUMP accepted sequence=1"};
const std::vector<std::string> kEmptyDump =
    joined({kDumpAccepted, {"FAULT_DUMP complete reports=2 bytes=73 elapsed_ms=4"}});
const std::vector<std::string> kSaved{
    "fault dump saved_to=<program folder>/logs/fault_dump_YYYYMMDD_HHMMSS.txt"};
const std::vector<std::string> kEmptyShown =
    joined({kHandOver, kEmptyDump, {"fault dump parser verified records=0"}, kSaved});
const std::vector<std::string> kExitAndRestart{
    "application EXIT succeeded", "fault-log operation complete; restarting adapter detection"};

// A dump whose records parse but cannot all be shown.
std::string dumpWith(const std::string& count, const std::string& record) {
    return "[fault_dump]\n"
           "line = \"\\e[30;46m[EOL] DATA DUMP BEGIN\\e[0m\"\n"
           "line = \"" +
           count + "\"\nline = \"001 FLT_BIG_OC 65436 05120\"\nline = \"" + record +
           "\"\nline = \"\\e[30;46m[EOL] DATA DUMP END\\e[0m\"\n";
}

class FaultLogMode : public ::testing::TestWithParam<ModeCase> {};

TEST_P(FaultLogMode, EndsAsTheUserAndTheAdapterDecide) {
    const ModeCase& row = GetParam();
    const TranscriptResult result =
        fault_log::runWithScenario(row.scenario, row.arguments, row.user);

    EXPECT_EQ(visible(fault_log::modeConsole(result.screen)), visible(row.console));
    std::vector<std::string> log = fault_log::modeLog(result);
    std::erase_if(log,
                  [](const std::string& line) { return line.starts_with("FAULT_DUMP report="); });
    EXPECT_EQ(log, row.log);
    EXPECT_EQ(fault_log::modeRequests(result), row.requests);
    EXPECT_EQ(result.exitCode, row.exitCode);
    EXPECT_EQ(result.openConnections, 0u);
    // After a normal end the run starts afresh and finds the adapter back in its bootloader.
    if (row.console.ends_with("Returning to adapter detection...\n\n")) {
        ASSERT_EQ(result.logs.size(), 2u);
        const std::vector<std::string>& next = std::next(result.logs.begin())->second;
        EXPECT_NE(std::find(next.begin(), next.end(), "Velkora HID bootloader detected"),
                  next.end());
    } else {
        EXPECT_EQ(result.logs.size(), 1u);
    }

    const std::vector<std::string> saved = fault_log::savedFaultLogs(result);
    if (row.saved) {
        ASSERT_EQ(saved.size(), 1u);
        EXPECT_EQ(visible(saved.front()), visible(fault_log::printedFaultLog(result.printed)));
    } else {
        EXPECT_TRUE(saved.empty()) << "nothing is saved from a fault log that was not shown";
    }
}

const std::vector<std::string> kDumpClearExit{"START_APP_USB 4", "FAULT_DUMP 1", "CLEAR_FAULTS 2",
                                              "EXIT 3"};
const std::string kClearAsked = kShownEmpty + "Clear fault log? [Y/N]: ";
const std::string kClearConfirmed = kClearAsked + "y\nType CLEAR to confirm: CLEAR\n";
const std::string kCannotDisplay =
    failed("Fault log contains a fault record that this updater cannot display.");
const std::string kOnlyStart = "Starting fault-log mode...\n";

// The log of a dump of three reports whose records parse, then the given lines.
std::vector<std::string> parsedDump(const std::string& bytes, std::vector<std::string> then) {
    then.insert(then.begin(), "FAULT_DUMP complete reports=3 bytes=" + bytes + " elapsed_ms=6");
    return joined({kHandOver, kDumpAccepted, then});
}

INSTANTIATE_TEST_SUITE_P(
    Dialogue, FaultLogMode,
    ::testing::Values(
        ModeCase{.name = "OutsideServiceModeNoClearingIsOffered",
                 .user = fault_log::typed({"2", "4"}),
                 .console = kShownEmpty + kReturning,
                 .log = joined({kEmptyShown, kExitAndRestart}),
                 .saved = true,
                 .exitCode = 0},
        ModeCase{.name = "ServiceModeAnsweredNo",
                 .arguments = {"--service"},
                 .user = fault_log::typed({"2", "No", "4"}),
                 .console = kClearAsked + "No\n" + kReturning,
                 .log = joined({kEmptyShown, kExitAndRestart}),
                 .saved = true,
                 .exitCode = 0},
        ModeCase{.name = "ServiceModeClearConfirmed",
                 .arguments = {"--service"},
                 .user = fault_log::typed({"2", " yes ", "CLEAR", "4"}),
                 .console = kClearAsked + " yes \nType CLEAR to confirm: CLEAR\n" +
                            "Fault log cleared.\n" + kReturning,
                 .log = joined({kEmptyShown, {"CLEAR_FAULTS succeeded"}, kExitAndRestart}),
                 .requests = kDumpClearExit,
                 .saved = true,
                 .exitCode = 0},
        ModeCase{.name = "ConfirmationInLowerCaseCancels",
                 .arguments = {"--service"},
                 .user = fault_log::typed({"2", "y", "clear", "4"}),
                 .console = kClearAsked + "y\nType CLEAR to confirm: clear\n" +
                            "Fault log clearing cancelled.\n" + kReturning,
                 .log = joined({kEmptyShown, kExitAndRestart}),
                 .saved = true,
                 .exitCode = 0},
        ModeCase{.name = "ConfirmationWithATrailingSpaceCancels",
                 .arguments = {"--service"},
                 .user = fault_log::typed({"2", "y", "CLEAR ", "4"}),
                 .console = kClearAsked + "y\nType CLEAR to confirm: CLEAR \n" +
                            "Fault log clearing cancelled.\n" + kReturning,
                 .log = joined({kEmptyShown, kExitAndRestart}),
                 .saved = true,
                 .exitCode = 0},
        // A closed console input answers no: nothing is erased without an answer. The next
        // run's menu then ends the program, since it can get no answer either.
        ModeCase{.name = "InputClosedAtTheQuestion",
                 .arguments = {"--service"},
                 .console = kClearAsked + "\n" + kReturning,
                 .log = joined({kEmptyShown, kExitAndRestart}),
                 .saved = true},
        ModeCase{.name = "InputClosedAtTheConfirmation",
                 .arguments = {"--service"},
                 .user = fault_log::typed({"2", "y"}),
                 .console = kClearAsked + "y\nType CLEAR to confirm: " +
                            "Fault log clearing cancelled.\n" + kReturning,
                 .log = joined({kEmptyShown, kExitAndRestart}),
                 .saved = true},
        // The confirmation is read up to the end of the input when no line end comes.
        ModeCase{.name = "ConfirmationEndingTheInputCounts",
                 .arguments = {"--service"},
                 .user = UserScript{{{0, "2"}, {0, "y"}, {0, "CLEAR", false}}, {}},
                 .console = kClearAsked + "y\nType CLEAR to confirm: CLEAR" +
                            "Fault log cleared.\n" + kReturning,
                 .log = joined({kEmptyShown, {"CLEAR_FAULTS succeeded"}, kExitAndRestart}),
                 .requests = kDumpClearExit,
                 .saved = true},
        // An interface with another adapter's serial number is not this adapter's.
        ModeCase{.name = "AForeignManagementInterfaceIsIgnored",
                 .scenario = "[bus]\nextra = management serial=2050384E9999\n",
                 .user = fault_log::typed({"2", "4"}),
                 .console = kShownEmpty + kReturning,
                 .log = joined({kEmptyShown, kExitAndRestart}),
                 .saved = true,
                 .exitCode = 0},
        // Reports the adapter sends after the end marker, more than a handle's queue holds,
        // are never read by the download; EXIT passes over those still queued.
        ModeCase{.name = "ReportsAfterTheEndMarkerAreLeftToExit",
                 .scenario = "[faults]\nFAULT_DUMP 1 = extra_after_end 40\n",
                 .user = fault_log::typed({"2", "4"}),
                 .console = kShownEmpty + kReturning,
                 .log = joined({kEmptyShown, kExitAndRestart}),
                 .saved = true,
                 .exitCode = 0}),
    [](const ::testing::TestParamInfo<ModeCase>& row) { return row.param.name; });

// After the fault log was shown and saved, a failure still reaches the user, and EXIT is
// tried once at most.
INSTANTIATE_TEST_SUITE_P(
    AfterTheLogWasShown, FaultLogMode,
    ::testing::Values(
        ModeCase{.name = "ClearFaultsFailsThenCleanupExit",
                 .scenario = "[faults]\nCLEAR_FAULTS 1 = status FAILED\n",
                 .arguments = {"--service"},
                 .user = fault_log::typed({"2", "y", "CLEAR"}),
                 .console = kClearConfirmed + failed("CLEAR_FAULTS failed: FAILED"),
                 .log = joined({kEmptyShown, {"application EXIT succeeded"}}),
                 .requests = kDumpClearExit,
                 .saved = true},
        ModeCase{.name = "ClearFaultsAndCleanupExitBothFail",
                 .scenario = "[faults]\nCLEAR_FAULTS 1 = status FAILED\nEXIT 1 = status BUSY\n",
                 .arguments = {"--service"},
                 .user = fault_log::typed({"2", "y", "CLEAR"}),
                 .console = kClearConfirmed + failed("CLEAR_FAULTS failed: FAILED"),
                 .log = joined({kEmptyShown,
                                {"application EXIT could not be completed during cleanup"}}),
                 .requests = kDumpClearExit,
                 .saved = true},
        ModeCase{.name = "ExitFailsAndIsNotTriedAgain",
                 .scenario = "[faults]\nEXIT 1 = status FAILED\n",
                 .console = kShownEmpty + failed("EXIT failed: FAILED"),
                 .log = kEmptyShown,
                 .saved = true},
        ModeCase{.name = "ExitAnswerMalformedAfterClearing",
                 .scenario = "[faults]\nEXIT 1 = bad_magic\n",
                 .arguments = {"--service"},
                 .user = fault_log::typed({"2", "y", "CLEAR"}),
                 .console = kClearConfirmed + "Fault log cleared.\n" +
                            failed("EXIT returned an invalid application HID report."),
                 .log = joined({kEmptyShown, {"CLEAR_FAULTS succeeded"}}),
                 .requests = kDumpClearExit,
                 .saved = true}),
    [](const ::testing::TestParamInfo<ModeCase>& row) { return row.param.name; });

// A dump that cannot be downloaded, verified or shown whole: nothing of it is printed or
// saved, and EXIT is tried once, quietly, so that the adapter does not stay in its
// management mode.
INSTANTIATE_TEST_SUITE_P(
    NothingShown, FaultLogMode,
    ::testing::Values(
        ModeCase{.name = "UnknownFaultCode",
                 .scenario = dumpWith("002", "002 FLT_NEW_KIND 00001 00002"),
                 .arguments = {"--service"},
                 .console = kStarting + kReading + kCannotDisplay,
                 .log = parsedDump("131", {"fault dump parser verified records=2",
                                           "application EXIT succeeded"})},
        ModeCase{.name = "SwitchFaultWithStatusFlagsOutOfRange",
                 .scenario = dumpWith("002", "002 FLT_WELD 01250 00004"),
                 .console = kStarting + kReading + kCannotDisplay,
                 .log = parsedDump("127", {"fault dump parser verified records=2",
                                           "application EXIT succeeded"})},
        ModeCase{.name = "FewerRecordsThanAnnounced",
                 .scenario = dumpWith("003", "002 FLT_WELD 01250 00003"),
                 .console = kStarting + kReading +
                            failed("Fault log display failed: the complete fault records could "
                                   "not be verified."),
                 .log = parsedDump("127", {"application EXIT succeeded"})},
        // The adapter takes FAULT_DUMP but never acknowledges it: the exchange's own error
        // after 5 s, with the interface still listed.
        ModeCase{.name = "AcknowledgementNeverComes",
                 .scenario = "[faults]\nFAULT_DUMP 1 = no_answer\n",
                 .console = kStarting + kReading + failed("Timed out reading HID response."),
                 .log = joined({kHandOver,
                                {"FAULT_DUMP sending command sequence=1",
                                 "FAULT_DUMP initial response failed sequence=1 error=Timed out "
                                 "reading HID response.",
                                 "FAULT_DUMP application HID after failure: "
                                 "expected_device=present management_interfaces=1",
                                 "application EXIT succeeded"}})},
        // The acknowledgement is lost while the dump streams: the first dump report, which
        // echoes the command and its sequence, is taken for it and refused for its payload.
        ModeCase{.name = "AcknowledgementLostWhileTheDumpStreams",
                 .scenario = "[faults]\nFAULT_DUMP 1 = answer_lost\n",
                 .console = kStarting + kReading +
                            failed("FAULT_DUMP returned an invalid initial response."),
                 .log = joined({kHandOver,
                                {"FAULT_DUMP sending command sequence=1",
                                 "FAULT_DUMP initial response had nonzero payload length=56",
                                 "application EXIT succeeded"}})},
        // The adapter is unplugged as FAULT_DUMP arrives: the presence check finds no
        // interface, and the cleanup EXIT cannot reach it.
        ModeCase{.name = "AdapterUnpluggedAtFaultDump",
                 .scenario = "[faults]\nFAULT_DUMP 1 = unplug\n",
                 .console = kStarting + kReading + failed("HID read failed (Windows error 1167)."),
                 .log = joined({kHandOver,
                                {"FAULT_DUMP sending command sequence=1",
                                 "FAULT_DUMP initial response failed sequence=1 error=HID read "
                                 "failed (Windows error 1167).",
                                 "FAULT_DUMP application HID after failure: "
                                 "expected_device=not_present management_interfaces=0",
                                 "application EXIT could not be completed during cleanup"}}),
                 .requests = {"START_APP_USB 4", "FAULT_DUMP 1"}},
        // Status 6 from the management interface is FAILED, not the bootloader's BAD_SIZE.
        ModeCase{.name = "DumpReportWithFailedStatus",
                 .scenario = "[faults]\nFAULT_DUMP 1 = status 6 report=2\n",
                 .console = kStarting + kReading + failed("FAULT_DUMP failed: FAILED"),
                 .log = joined({kHandOver,
                                kDumpAccepted,
                                {"FAULT_DUMP invalid report=2 hid_bytes=65 elapsed_ms=4 "
                                 "gap_ms=2 error=FAULT_DUMP failed: FAILED",
                                 "application EXIT succeeded"}})}),
    [](const ::testing::TestParamInfo<ModeCase>& row) { return row.param.name; });

// The hand-over fails before the management interface is in use: no EXIT is sent.
INSTANTIATE_TEST_SUITE_P(
    HandOverFails, FaultLogMode,
    ::testing::Values(
        ModeCase{.name = "StartAppUsbRefused",
                 .scenario = "[faults]\nSTART_APP_USB 1 = status BUSY\n",
                 .console = kOnlyStart + failed("START_APP_USB failed: BUSY"),
                 .log = {},
                 .requests = {"START_APP_USB 4"}},
        ModeCase{.name = "StartAppUsbUnanswered",
                 .scenario = "[faults]\nSTART_APP_USB 1 = no_answer\n",
                 .console = kOnlyStart + failed("Timed out reading HID response."),
                 .log = {},
                 .requests = {"START_APP_USB 4"}},
        // A second interface with the same serial number comes up with this adapter's (the
        // adapter's own appears 880 ms after the bus was first listed, the wait polls at 860
        // and 960 ms): the updater refuses to choose.
        ModeCase{.name = "TwoManagementInterfacesWithTheSerial",
                 .scenario = "[bus]\nextra = management serial=2050384E3436 appear_ms=900\n",
                 .console = kStarting + failed("More than one Velkora management interface was "
                                               "found. Unplug all but one Velkora and try again."),
                 .log = {"START_APP_USB succeeded; waiting for application HID"},
                 .requests = {"START_APP_USB 4"}},
        ModeCase{.name = "ManagementInterfaceNeverComes",
                 .scenario = "[timing]\napp_enumeration_ms = 60000\n",
                 .console = kStarting +
                            failed("Timed out waiting for the Velkora management interface."),
                 .log = {"START_APP_USB succeeded; waiting for application HID"},
                 .requests = {"START_APP_USB 4"}}),
    [](const ::testing::TestParamInfo<ModeCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::testing
