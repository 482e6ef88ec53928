#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "tests/e2e/faultlog_session.h"

namespace velkora::testing {
namespace {

using faultlog::kHealthyAdapter;

// Fault-log mode through the program's real entry point, against the simulated adapter: the
// user picks "2. View fault log" from the menu and answers the mode's questions; the adapter
// is healthy or carries one fault. Each row checks what the user sees of the mode, the mode's
// run-log lines, what the adapter received from the hand-over on, the exit code, and the
// saved fault-log file. The per-report lines of the download are left out of the log: they
// are the download's own business, proven over a scripted port.
struct ModeCase {
    const char* name;
    std::string scenario;  // besides a healthy adapter whose fault log is empty
    std::vector<std::string> arguments;
    UserScript user;
    std::string console;  // from "Starting fault-log mode..." to the mode's last text
    std::vector<std::string> log;
    std::vector<std::string> requests;
    bool saved = false;  // one fault-log file was saved, holding exactly the text shown
    int exitCode = 0;
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
        faultlog::runWithScenario(row.scenario, row.arguments, row.user);

    EXPECT_EQ(visible(faultlog::modeConsole(result.screen)), visible(row.console));
    std::vector<std::string> log = faultlog::modeLog(result);
    std::erase_if(log,
                  [](const std::string& line) { return line.starts_with("FAULT_DUMP report="); });
    EXPECT_EQ(log, row.log);
    EXPECT_EQ(faultlog::modeRequests(result), row.requests);
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

    const std::vector<std::string> saved = faultlog::savedFaultLogs(result);
    if (row.saved) {
        ASSERT_EQ(saved.size(), 1u);
        EXPECT_EQ(visible(saved.front()), visible(faultlog::printedFaultLog(result.printed)));
    } else {
        EXPECT_TRUE(saved.empty()) << "nothing is saved from a fault log that was not shown";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dialogue, FaultLogMode,
    ::testing::Values(
        ModeCase{"OutsideServiceModeNoClearingIsOffered",
                 kHealthyAdapter,
                 {},
                 faultlog::typed({"2", "4"}),
                 kShownEmpty + kReturning,
                 joined({kEmptyShown, kExitAndRestart}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 true},
        ModeCase{"ServiceModeAnsweredNo",
                 kHealthyAdapter,
                 {"--service"},
                 faultlog::typed({"2", "No", "4"}),
                 kShownEmpty + "Clear fault log? [Y/N]: No\n" + kReturning,
                 joined({kEmptyShown, kExitAndRestart}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 true},
        ModeCase{"ServiceModeClearConfirmed",
                 kHealthyAdapter,
                 {"--service"},
                 faultlog::typed({"2", " yes ", "CLEAR", "4"}),
                 kShownEmpty + "Clear fault log? [Y/N]:  yes \nType CLEAR to confirm: CLEAR\n" +
                     "Fault log cleared.\n" + kReturning,
                 joined({kEmptyShown, {"CLEAR_FAULTS succeeded"}, kExitAndRestart}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "CLEAR_FAULTS 2", "EXIT 3"},
                 true},
        ModeCase{"ConfirmationInLowerCaseCancels",
                 kHealthyAdapter,
                 {"--service"},
                 faultlog::typed({"2", "y", "clear", "4"}),
                 kShownEmpty + "Clear fault log? [Y/N]: y\nType CLEAR to confirm: clear\n" +
                     "Fault log clearing cancelled.\n" + kReturning,
                 joined({kEmptyShown, kExitAndRestart}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 true},
        ModeCase{"ConfirmationWithATrailingSpaceCancels",
                 kHealthyAdapter,
                 {"--service"},
                 faultlog::typed({"2", "y", "CLEAR ", "4"}),
                 kShownEmpty + "Clear fault log? [Y/N]: y\nType CLEAR to confirm: CLEAR \n" +
                     "Fault log clearing cancelled.\n" + kReturning,
                 joined({kEmptyShown, kExitAndRestart}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 true},
        // A closed console input answers no: nothing is erased without an answer. The next
        // run's menu then ends the program, since it can get no answer either.
        ModeCase{"InputClosedAtTheQuestion",
                 kHealthyAdapter,
                 {"--service"},
                 faultlog::typed({"2"}),
                 kShownEmpty + "Clear fault log? [Y/N]: \n" + kReturning,
                 joined({kEmptyShown, kExitAndRestart}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 true,
                 1},
        ModeCase{"InputClosedAtTheConfirmation",
                 kHealthyAdapter,
                 {"--service"},
                 faultlog::typed({"2", "y"}),
                 kShownEmpty + "Clear fault log? [Y/N]: y\nType CLEAR to confirm: " +
                     "Fault log clearing cancelled.\n" + kReturning,
                 joined({kEmptyShown, kExitAndRestart}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 true,
                 1},
        // The confirmation is read up to the end of the input when no line end comes.
        ModeCase{"ConfirmationEndingTheInputCounts",
                 kHealthyAdapter,
                 {"--service"},
                 UserScript{{{0, "2"}, {0, "y"}, {0, "CLEAR", false}}, {}},
                 kShownEmpty + "Clear fault log? [Y/N]: y\nType CLEAR to confirm: CLEAR" +
                     "Fault log cleared.\n" + kReturning,
                 joined({kEmptyShown, {"CLEAR_FAULTS succeeded"}, kExitAndRestart}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "CLEAR_FAULTS 2", "EXIT 3"},
                 true,
                 1},
        // An interface with another adapter's serial number is not this adapter's.
        ModeCase{"AForeignManagementInterfaceIsIgnored",
                 "[bus]\nextra = management serial=2050384E9999\n",
                 {},
                 faultlog::typed({"2", "4"}),
                 kShownEmpty + kReturning,
                 joined({kEmptyShown, kExitAndRestart}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 true},
        // Reports the adapter sends after the end marker, more than a handle's queue holds,
        // are never read by the download; EXIT passes over those still queued.
        ModeCase{"ReportsAfterTheEndMarkerAreLeftToExit",
                 "[faults]\nFAULT_DUMP 1 = extra_after_end 40\n",
                 {},
                 faultlog::typed({"2", "4"}),
                 kShownEmpty + kReturning,
                 joined({kEmptyShown, kExitAndRestart}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 true}),
    [](const ::testing::TestParamInfo<ModeCase>& row) { return row.param.name; });

// After the fault log was shown and saved, a failure still reaches the user, and EXIT is
// tried once at most.
INSTANTIATE_TEST_SUITE_P(
    AfterTheLogWasShown, FaultLogMode,
    ::testing::Values(
        ModeCase{"ClearFaultsFailsThenCleanupExit",
                 "[faults]\nCLEAR_FAULTS 1 = status FAILED\n",
                 {"--service"},
                 faultlog::typed({"2", "y", "CLEAR"}),
                 kShownEmpty + "Clear fault log? [Y/N]: y\nType CLEAR to confirm: CLEAR\n" +
                     failed("CLEAR_FAULTS failed: FAILED"),
                 joined({kEmptyShown, {"application EXIT succeeded"}}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "CLEAR_FAULTS 2", "EXIT 3"},
                 true,
                 1},
        ModeCase{"ClearFaultsAndCleanupExitBothFail",
                 "[faults]\nCLEAR_FAULTS 1 = status FAILED\nEXIT 1 = status BUSY\n",
                 {"--service"},
                 faultlog::typed({"2", "y", "CLEAR"}),
                 kShownEmpty + "Clear fault log? [Y/N]: y\nType CLEAR to confirm: CLEAR\n" +
                     failed("CLEAR_FAULTS failed: FAILED"),
                 joined({kEmptyShown, {"application EXIT could not be completed during cleanup"}}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "CLEAR_FAULTS 2", "EXIT 3"},
                 true,
                 1},
        ModeCase{"ExitFailsAndIsNotTriedAgain",
                 "[faults]\nEXIT 1 = status FAILED\n",
                 {},
                 faultlog::typed({"2"}),
                 kShownEmpty + failed("EXIT failed: FAILED"),
                 kEmptyShown,
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 true,
                 1},
        ModeCase{"ExitAnswerMalformedAfterClearing",
                 "[faults]\nEXIT 1 = bad_magic\n",
                 {"--service"},
                 faultlog::typed({"2", "y", "CLEAR"}),
                 kShownEmpty + "Clear fault log? [Y/N]: y\nType CLEAR to confirm: CLEAR\n" +
                     "Fault log cleared.\n" +
                     failed("EXIT returned an invalid application HID report."),
                 joined({kEmptyShown, {"CLEAR_FAULTS succeeded"}}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "CLEAR_FAULTS 2", "EXIT 3"},
                 true,
                 1}),
    [](const ::testing::TestParamInfo<ModeCase>& row) { return row.param.name; });

// A dump that cannot be downloaded, verified or shown whole: nothing of it is printed or
// saved, and EXIT is tried once, quietly, so that the adapter does not stay in its
// management mode.
INSTANTIATE_TEST_SUITE_P(
    NothingShown, FaultLogMode,
    ::testing::Values(
        ModeCase{"UnknownFaultCode",
                 dumpWith("002", "002 FLT_NEW_KIND 00001 00002"),
                 {"--service"},
                 faultlog::typed({"2"}),
                 kStarting + kReading +
                     failed("Fault log contains a fault record that this updater cannot "
                            "display."),
                 joined({kHandOver,
                         kDumpAccepted,
                         {"FAULT_DUMP complete reports=3 bytes=131 elapsed_ms=6",
                          "fault dump parser verified records=2", "application EXIT succeeded"}}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 false,
                 1},
        ModeCase{"SwitchFaultWithStatusFlagsOutOfRange",
                 dumpWith("002", "002 FLT_WELD 01250 00004"),
                 {},
                 faultlog::typed({"2"}),
                 kStarting + kReading +
                     failed("Fault log contains a fault record that this updater cannot "
                            "display."),
                 joined({kHandOver,
                         kDumpAccepted,
                         {"FAULT_DUMP complete reports=3 bytes=127 elapsed_ms=6",
                          "fault dump parser verified records=2", "application EXIT succeeded"}}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 false,
                 1},
        ModeCase{"FewerRecordsThanAnnounced",
                 dumpWith("003", "002 FLT_WELD 01250 00003"),
                 {},
                 faultlog::typed({"2"}),
                 kStarting + kReading +
                     failed("Fault log display failed: the complete fault records could not be "
                            "verified."),
                 joined({kHandOver,
                         kDumpAccepted,
                         {"FAULT_DUMP complete reports=3 bytes=127 elapsed_ms=6",
                          "application EXIT succeeded"}}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 false,
                 1},
        // The adapter takes FAULT_DUMP but never acknowledges it: the exchange's own error
        // after 5 s, with the interface still listed.
        ModeCase{"AcknowledgementNeverComes",
                 "[faults]\nFAULT_DUMP 1 = no_answer\n",
                 {},
                 faultlog::typed({"2"}),
                 kStarting + kReading + failed("Timed out reading HID response."),
                 joined({kHandOver,
                         {"FAULT_DUMP sending command sequence=1",
                          "FAULT_DUMP initial response failed sequence=1 error=Timed out reading "
                          "HID response.",
                          "FAULT_DUMP application HID after failure: expected_device=present "
                          "management_interfaces=1",
                          "application EXIT succeeded"}}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 false,
                 1},
        // The acknowledgement is lost while the dump streams: the first dump report, which
        // echoes the command and its sequence, is taken for it and refused for its payload.
        ModeCase{"AcknowledgementLostWhileTheDumpStreams",
                 "[faults]\nFAULT_DUMP 1 = answer_lost\n",
                 {},
                 faultlog::typed({"2"}),
                 kStarting + kReading + failed("FAULT_DUMP returned an invalid initial response."),
                 joined({kHandOver,
                         {"FAULT_DUMP sending command sequence=1",
                          "FAULT_DUMP initial response had nonzero payload length=56",
                          "application EXIT succeeded"}}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 false,
                 1},
        // The adapter is unplugged as FAULT_DUMP arrives: the presence check finds no
        // interface, and the cleanup EXIT cannot reach it.
        ModeCase{"AdapterUnpluggedAtFaultDump",
                 "[faults]\nFAULT_DUMP 1 = unplug\n",
                 {},
                 faultlog::typed({"2"}),
                 kStarting + kReading + failed("HID read failed (Windows error 1167)."),
                 joined({kHandOver,
                         {"FAULT_DUMP sending command sequence=1",
                          "FAULT_DUMP initial response failed sequence=1 error=HID read failed "
                          "(Windows error 1167).",
                          "FAULT_DUMP application HID after failure: expected_device=not_present "
                          "management_interfaces=0",
                          "application EXIT could not be completed during cleanup"}}),
                 {"START_APP_USB 4", "FAULT_DUMP 1"},
                 false,
                 1},
        // Status 6 from the management interface is FAILED, not the bootloader's BAD_SIZE.
        ModeCase{"DumpReportWithFailedStatus",
                 "[faults]\nFAULT_DUMP 1 = status 6 report=2\n",
                 {},
                 faultlog::typed({"2"}),
                 kStarting + kReading + failed("FAULT_DUMP failed: FAILED"),
                 joined({kHandOver,
                         kDumpAccepted,
                         {"FAULT_DUMP invalid report=2 hid_bytes=65 elapsed_ms=4 gap_ms=2 "
                          "error=FAULT_DUMP failed: FAILED",
                          "application EXIT succeeded"}}),
                 {"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"},
                 false,
                 1}),
    [](const ::testing::TestParamInfo<ModeCase>& row) { return row.param.name; });

// The hand-over fails before the management interface is in use: no EXIT is sent.
INSTANTIATE_TEST_SUITE_P(
    HandOverFails, FaultLogMode,
    ::testing::Values(
        ModeCase{"StartAppUsbRefused",
                 "[faults]\nSTART_APP_USB 1 = status BUSY\n",
                 {},
                 faultlog::typed({"2"}),
                 "Starting fault-log mode...\n" + failed("START_APP_USB failed: BUSY"),
                 {},
                 {"START_APP_USB 4"},
                 false,
                 1},
        ModeCase{"StartAppUsbUnanswered",
                 "[faults]\nSTART_APP_USB 1 = no_answer\n",
                 {},
                 faultlog::typed({"2"}),
                 "Starting fault-log mode...\n" + failed("Timed out reading HID response."),
                 {},
                 {"START_APP_USB 4"},
                 false,
                 1},
        // A second interface with the same serial number comes up with this adapter's (the
        // adapter's own appears 880 ms after the bus was first listed, the wait polls at 860
        // and 960 ms): the updater refuses to choose.
        ModeCase{"TwoManagementInterfacesWithTheSerial",
                 "[bus]\nextra = management serial=2050384E3436 appear_ms=900\n",
                 {},
                 faultlog::typed({"2"}),
                 kStarting + failed("More than one Velkora management interface was found. "
                                    "Unplug all but one Velkora and try again."),
                 {"START_APP_USB succeeded; waiting for application HID"},
                 {"START_APP_USB 4"},
                 false,
                 1},
        ModeCase{"ManagementInterfaceNeverComes",
                 "[timing]\napp_enumeration_ms = 60000\n",
                 {},
                 faultlog::typed({"2"}),
                 kStarting + failed("Timed out waiting for the Velkora management interface."),
                 {"START_APP_USB succeeded; waiting for application HID"},
                 {"START_APP_USB 4"},
                 false,
                 1}),
    [](const ::testing::TestParamInfo<ModeCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::testing
