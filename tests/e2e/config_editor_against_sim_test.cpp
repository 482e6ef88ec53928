#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/scenario_values.h"
#include "tests/e2e/config_transcript_support.h"
#include "tests/e2e/demo_program.h"
#include "tests/e2e/transcript_harness.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {
namespace {

// One way through configuration mode, from the main menu's choice 6 to the end of the
// process, against the simulated adapter.
struct EditorCase {
    const char* name;
    const char* scenario = "config_adapter.scn";  // a file in tests/scenarios
    const char* extra = "";               // scenario text added to it: faults, other settings
    std::vector<std::string> typed;       // from the main menu on; the console closes after them
    std::vector<std::string> shown = {};  // console excerpts that appear in this order
    std::vector<std::string> requests;    // what the management interface received
    std::vector<std::string> log;         // the run log from the choice on, to the run's end
    int exitCode = 1;
    std::string ending;  // how the console output ends
};

void PrintTo(const EditorCase& row, std::ostream* out) {
    *out << row.name;
}

// What the management interface received, one line per request: name, sequence and payload
// bytes in hexadecimal.
std::vector<std::string> managementRequests(const TranscriptResult& result) {
    std::vector<std::string> lines;
    for (const sim::ReceivedRequest& received : result.requests) {
        if (received.identity != sim::Identity::Application) {
            continue;
        }
        std::string line = std::string(sim::scenario::commandName(received.request.command)) +
                           " seq " + std::to_string(received.request.sequence);
        if (!received.request.payload.empty()) {
            line += " payload";
            for (const std::uint8_t byte : received.request.payload) {
                static constexpr char kHex[] = "0123456789ABCDEF";
                line += std::string(" ") + kHex[byte >> 4] + kHex[byte & 0x0F];
            }
        }
        lines.push_back(line);
    }
    return lines;
}

// The run log of the run that chose configuration, from after the device information to its
// end. A run that follows a finished mode only leaves the adapter in its bootloader.
std::vector<std::string> logAfterMenuChoice(const TranscriptResult& result) {
    const std::vector<std::string> leftInBootloader{
        "user exited and left Velkora in bootloader mode"};
    for (const auto& [name, lines] : result.logs) {
        const auto deviceInformation = std::find_if(
            lines.begin(), lines.end(),
            [](const std::string& line) { return line.starts_with("app compatibility="); });
        if (deviceInformation == lines.end()) {
            continue;
        }
        std::vector<std::string> tail(deviceInformation + 1, lines.end());
        if (tail != leftInBootloader) {
            return tail;
        }
    }
    return {"(no run log chose configuration)"};
}

class EditorAgainstSimulator : public ::testing::TestWithParam<EditorCase> {};

TEST_P(EditorAgainstSimulator, EndsAsTheDeviceAndTheUserDecide) {
    const EditorCase& row = GetParam();
    TempFolder scenarioFolder;
    const TranscriptResult result =
        runTranscript({scenarioWithExtra(scenarioFolder, row.scenario, row.extra),
                       {},
                       typedAtOnce(row.typed),
                       std::nullopt});

    EXPECT_TRUE(appearInOrder(result.printed, row.shown));
    EXPECT_EQ(managementRequests(result), row.requests);
    EXPECT_EQ(logAfterMenuChoice(result), row.log);
    EXPECT_EQ(result.exitCode, row.exitCode);
    EXPECT_TRUE(result.printed.ends_with(row.ending))
        << "the console ends with:\n"
        << visible(result.printed.substr(result.printed.size() -
                                         std::min(result.printed.size(), std::size_t{400})));
    EXPECT_EQ(result.linesNotRead, 0u) << "every typed line is answered";
    EXPECT_EQ(result.openConnections, 0u) << "every HID handle is closed on the way out";
}

// The log lines of every session that reaches the editor, before the row's own.
std::vector<std::string> afterHandOver(std::vector<std::string> lines) {
    lines.insert(lines.begin(), {"START_APP_USB succeeded for configuration",
                                 "Velkora management interface detected",
                                 "configuration application identity and initial snapshot "
                                 "verified"});
    return lines;
}

const std::string kLeftInBootloader = "Leaving the Velkora in bootloader mode.\n";
const std::string kRestarting = "configuration operation complete; restarting adapter detection";
const std::string kLost =
    "Application HID connection was lost or did not respond. Configuration was not stored; "
    "reconnect the device to continue. Detail: ";
const std::string kUncertain =
    "STORE_CONFIG outcome is uncertain; the device may have stored settings and reset. "
    "Reconnect and inspect its configuration before trying again. Detail: ";
const std::string kInputClosed = "Console input closed; configuration session ended.";

std::string failed(const std::string& message) {
    return "\nConfiguration failed.\n" + message + "\n\nPress Enter to close.";
}

// config_adapter.scn after its defaults have been restored.
const std::vector<std::string> kDefaultItems{"1. Redriver level: Off *",
                                             "2. LED mode: Default",
                                             "3. Ramp rate: Safe *",
                                             "4. Ramp mode: Full",
                                             "5. Small-bus switch: Disabled *",
                                             "6. Hot swap: Disabled *",
                                             "7. Samsung recovery: Disabled",
                                             "8. PD3 follower: Enabled",
                                             "9. PPS: Disabled *"};

const std::string kItemPrompt = "Item number (Enter to cancel): ";
const std::string kValuePrompt = "Value (Enter to cancel): ";
const std::string kStorePrompt = "Store staged settings and restart device? [Y/N]: ";
const std::string kNotAvailable = kItemPrompt + "That item is not available.\n";
const std::string kLedValues = "LED mode values:\n0. Default\n1. NoFlash\n2. Off\n" + kValuePrompt;

INSTANTIATE_TEST_SUITE_P(
    Editor, EditorAgainstSimulator,
    ::testing::Values(
        EditorCase{
            .name = "FiveItemsOnly",
            .scenario = "config_five_items.scn",
            .typed = {"6", "1", "7", "4", "4"},
            .shown = {stagedView({"1. Redriver level: Zero", "2. LED mode: Off",
                                  "3. Ramp rate: Safe", "4. Ramp mode: UpOnly",
                                  "5. Small-bus switch: WaitForever"}) +
                      kConfigMenu + kNotAvailable + kConfigMenu +
                      "Exited without storing changes.\nReturning to adapter detection...\n"},
            .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "EXIT seq 3"},
            .log = afterHandOver({"application EXIT succeeded", kRestarting}),
            .exitCode = 0,
            .ending = kLeftInBootloader},
        EditorCase{.name = "NoItemsRestoreAndStoreStillWork",
                   .scenario = "config_no_items.scn",
                   .typed = {"6", "1", "5", "2", "3", "y", "4"},
                   .shown = {stagedView({}) + kConfigMenu + kNotAvailable + kConfigMenu +
                             stagedView({}) + kConfigMenu + stagedView({}) + kStorePrompt +
                             "Store accepted. Device is restarting.\nReturning to adapter "
                             "detection...\n"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "RESET_CONFIG seq 3",
                                "GET_CONFIG seq 4", "GET_CONFIG seq 5", "STORE_CONFIG seq 6"},
                   .log = afterHandOver({"RESET_CONFIG staged defaults",
                                         "STORE_CONFIG returned OK; application HID handle closed "
                                         "before device reset",
                                         kRestarting}),
                   .exitCode = 0,
                   .ending = kLeftInBootloader},
        // The device says OK to the change but does not make it.
        EditorCase{
            .name = "ChangeNotReflectedByTheReadBack",
            .extra = "[faults]\nSET_CONFIG_ITEM 1 = status OK\n",
            .typed = {"6", "1", "2", "1"},
            .shown = {kLedValues},
            .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2",
                         "SET_CONFIG_ITEM seq 3 payload 02 01", "GET_CONFIG seq 4", "EXIT seq 5"},
            .log = afterHandOver({"application EXIT succeeded"}),
            .ending = failed("The staged configuration did not reflect the accepted item change.")},
        EditorCase{.name = "RestoreDefaultsMarksAndExitStoresNothing",
                   .typed = {"6", "2", "4", "4"},
                   .shown = {stagedView(kStoredItems) + kConfigMenu + stagedView(kDefaultItems) +
                             kConfigMenu + "Exited without storing changes.\n"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "RESET_CONFIG seq 3",
                                "GET_CONFIG seq 4", "EXIT seq 5"},
                   .log = afterHandOver({"RESET_CONFIG staged defaults",
                                         "application EXIT succeeded", kRestarting}),
                   .exitCode = 0,
                   .ending = kLeftInBootloader},
        // FAILED keeps the editor: the next view still marks the change, so neither snapshot
        // moved.
        EditorCase{
            .name = "StoreFailedKeepsTheEditorAndBothSnapshots",
            .extra = "[faults]\nSTORE_CONFIG 1 = status FAILED\n",
            .typed = {"6", "1", "3", "2", "3", "y", "3", "n", "4", "4"},
            .shown = {kStorePrompt + "Store failed. Staged settings are still available.\n" +
                      kConfigMenu +
                      stagedView(withLine(kStoredItems, 3, "3. Ramp rate: Aggressive10 *")) +
                      kStorePrompt + kConfigMenu + "Exited without storing changes.\n"},
            .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2",
                         "SET_CONFIG_ITEM seq 3 payload 03 02", "GET_CONFIG seq 4",
                         "GET_CONFIG seq 5", "STORE_CONFIG seq 6", "GET_CONFIG seq 7",
                         "EXIT seq 8"},
            .log = afterHandOver({"SET_CONFIG_ITEM accepted item=0x03 value=2",
                                  "STORE_CONFIG returned FAILED; staged settings remain available",
                                  "application EXIT succeeded", kRestarting}),
            .exitCode = 0,
            .ending = kLeftInBootloader},
        EditorCase{.name = "StoreBusyFailsAfterAQuietExit",
                   .extra = "[faults]\nSTORE_CONFIG 1 = status BUSY\n",
                   .typed = {"6", "3", "y"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "GET_CONFIG seq 3",
                                "STORE_CONFIG seq 4", "EXIT seq 5"},
                   .log = afterHandOver({"application EXIT succeeded"}),
                   .ending = failed("STORE_CONFIG failed: BUSY")},
        // The device may have stored and restarted: nothing more is sent to it.
        EditorCase{.name = "StoreTimesOutUncertainWithoutExit",
                   .extra = "[faults]\nSTORE_CONFIG 1 = no_answer\n",
                   .typed = {"6", "3", "y"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "GET_CONFIG seq 3",
                                "STORE_CONFIG seq 4"},
                   .log = afterHandOver(
                       {"STORE_CONFIG outcome uncertain: Timed out reading HID response."}),
                   .ending = failed(kUncertain + "Timed out reading HID response.")},
        // An invalid answer to the store is as uncertain as none; its payload length is
        // judged before its status.
        EditorCase{
            .name = "StoreAnswerInvalidUncertainWithoutExit",
            .extra = "[faults]\nSTORE_CONFIG 1 = status FAILED\n"
                     "STORE_CONFIG 1 = payload_length 1\n",
            .typed = {"6", "3", "y"},
            .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "GET_CONFIG seq 3",
                         "STORE_CONFIG seq 4"},
            .log = afterHandOver({"STORE_CONFIG outcome uncertain: Configuration command "
                                  "returned an invalid response payload length."}),
            .ending = failed(kUncertain + "Configuration command returned an invalid response "
                                          "payload length.")},
        EditorCase{
            .name = "ReadBackTimesOutReworded",
            .extra = "[faults]\nGET_CONFIG 2 = no_answer\n",
            .typed = {"6", "1", "2", "1"},
            .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2",
                         "SET_CONFIG_ITEM seq 3 payload 02 01", "GET_CONFIG seq 4", "EXIT seq 5"},
            .log = afterHandOver({"application EXIT succeeded"}),
            .ending = failed(kLost + "Timed out reading HID response.")},
        // The EXIT of choice 4 is the only one: no quiet EXIT follows it.
        EditorCase{.name = "ExitTimesOutNotRetriedReworded",
                   .extra = "[faults]\nEXIT 1 = no_answer\n",
                   .typed = {"6", "4"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "EXIT seq 3"},
                   .log = afterHandOver({}),
                   .ending = failed(kLost + "Timed out reading HID response.")},
        EditorCase{
            .name = "ItemRepliesThatAreNotAnAvailableItem",
            .typed = {"6", "1", "256", "1", "+1", "1", "1.5", "1", "0", "1", "10", "1", "2", "02",
                      "4", "4"},
            .shown = {kNotAvailable, kNotAvailable, kNotAvailable, kNotAvailable, kNotAvailable,
                      kLedValues + stagedView(withLine(kStoredItems, 2, "2. LED mode: Off *"))},
            .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2",
                         "SET_CONFIG_ITEM seq 3 payload 02 02", "GET_CONFIG seq 4", "EXIT seq 5"},
            .log = afterHandOver({"SET_CONFIG_ITEM accepted item=0x02 value=2",
                                  "application EXIT succeeded", kRestarting}),
            .exitCode = 0,
            .ending = kLeftInBootloader},
        // Hot swap has two values; an empty reply at either prompt cancels without a word.
        EditorCase{.name = "ValueRepliesThatAreNotAValue",
                   .typed = {"6", "1", "6", "2", "1", "6", "+1", "1", "6", "1.5", "1", "6", "", "1",
                             "", "4", "4"},
                   .shown = {kValuePrompt + "Invalid value.\n", kValuePrompt + "Invalid value.\n",
                             kValuePrompt + "Invalid value.\n", kValuePrompt + kConfigMenu,
                             kItemPrompt + kConfigMenu},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "EXIT seq 3"},
                   .log = afterHandOver({"application EXIT succeeded", kRestarting}),
                   .exitCode = 0,
                   .ending = kLeftInBootloader},
        EditorCase{.name = "MenuChoiceIsOneCharacterAfterTrimming",
                   .typed = {"6", " 1 ", "", "01", "1.", "5", "", "\t4 ", "4"},
                   .shown = {kConfigMenu + kItemPrompt + kConfigMenu,
                             "Please select 1 through 4.\n" + kConfigMenu,
                             "Please select 1 through 4.\n" + kConfigMenu,
                             "Please select 1 through 4.\n" + kConfigMenu,
                             "Please select 1 through 4.\n" + kConfigMenu +
                                 "Exited without storing changes.\n"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "EXIT seq 3"},
                   .log = afterHandOver({"application EXIT succeeded", kRestarting}),
                   .exitCode = 0,
                   .ending = kLeftInBootloader},
        EditorCase{.name = "InputEndsAtTheSelection",
                   .typed = {"6"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "EXIT seq 3"},
                   .log = afterHandOver({"application EXIT succeeded"}),
                   .ending = kConfigMenu + failed(kInputClosed)},
        EditorCase{.name = "InputEndsAtTheItemNumber",
                   .typed = {"6", "1"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "EXIT seq 3"},
                   .log = afterHandOver({"application EXIT succeeded"}),
                   .ending = kItemPrompt + failed(kInputClosed)},
        EditorCase{.name = "InputEndsAtTheValue",
                   .typed = {"6", "1", "2"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "EXIT seq 3"},
                   .log = afterHandOver({"application EXIT succeeded"}),
                   .ending = kLedValues + failed(kInputClosed)},
        EditorCase{.name = "InputEndsAtTheStoreQuestion",
                   .typed = {"6", "3", "maybe"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "GET_CONFIG seq 3",
                                "EXIT seq 4"},
                   .log = afterHandOver({"application EXIT succeeded"}),
                   .ending = kStorePrompt + "Please answer Y or N.\n" + kStorePrompt +
                             failed(kInputClosed)},
        EditorCase{
            .name = "AvailabilityChangesAtTheReadBack",
            .extra = "[faults]\nGET_CONFIG 2 = omit_item 7\n",
            .typed = {"6", "1", "2", "1"},
            .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2",
                         "SET_CONFIG_ITEM seq 3 payload 02 01", "GET_CONFIG seq 4", "EXIT seq 5"},
            .log = afterHandOver({"application EXIT succeeded"}),
            .ending = failed("Configuration item availability changed during this "
                             "session.")},
        EditorCase{.name = "AvailabilityChangesAfterRestoringDefaults",
                   .extra = "[faults]\nGET_CONFIG 2 = omit_item 1\n",
                   .typed = {"6", "2"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "RESET_CONFIG seq 3",
                                "GET_CONFIG seq 4", "EXIT seq 5"},
                   .log = afterHandOver({"application EXIT succeeded"}),
                   .ending = failed("Configuration item availability changed during this "
                                    "session.")},
        EditorCase{.name = "AvailabilityChangesBeforeTheStoreQuestion",
                   .extra = "[faults]\nGET_CONFIG 2 = omit_item 9\n",
                   .typed = {"6", "3"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "GET_CONFIG seq 3",
                                "EXIT seq 4"},
                   .log = afterHandOver({"application EXIT succeeded"}),
                   .ending = kConfigMenu + failed("Configuration item availability changed "
                                                  "during this session.")},
        // An item that appears in the middle of a session changes the availability too.
        EditorCase{.name = "AvailabilityChangesWhenAnItemAppears",
                   .extra = "[faults]\nGET_CONFIG 1 = omit_item 4\n",
                   .typed = {"6", "2"},
                   .shown = {stagedView({"1. Redriver level: One", "2. LED mode: Default",
                                         "3. Ramp rate: Aggressive8",
                                         "5. Small-bus switch: WaitWithTimeout",
                                         "6. Hot swap: Enabled", "7. Samsung recovery: Disabled",
                                         "8. PD3 follower: Enabled", "9. PPS: Enabled"})},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "RESET_CONFIG seq 3",
                                "GET_CONFIG seq 4", "EXIT seq 5"},
                   .log = afterHandOver({"application EXIT succeeded"}),
                   .ending = failed("Configuration item availability changed during this "
                                    "session.")}),
    [](const ::testing::TestParamInfo<EditorCase>& row) { return row.param.name; });

// The checks of the configuration protocol as the whole program meets them: each failure
// reaches the user unchanged under "Configuration failed.", after a quiet EXIT; a failure of
// the hand-over itself is neither followed by an EXIT nor reworded.
INSTANTIATE_TEST_SUITE_P(
    Protocol, EditorAgainstSimulator,
    ::testing::Values(
        EditorCase{
            .name = "AnswersReadAs64BytesDecodeAlike",
            .extra = "[faults]\nAPP_GET_INFO 1 = no_report_id\n"
                     "GET_CONFIG every = no_report_id\nEXIT 1 = no_report_id\n",
            .typed = {"6", "4", "4"},
            .shown = {stagedView(kStoredItems) + kConfigMenu + "Exited without storing changes.\n"},
            .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "EXIT seq 3"},
            .log = afterHandOver({"application EXIT succeeded", kRestarting}),
            .exitCode = 0,
            .ending = kLeftInBootloader},
        EditorCase{
            .name = "ApplicationIdentityApp2",
            .extra = "[application]\nidentity = APP2\n",
            .typed = {"6"},
            .requests = {"APP_GET_INFO seq 1", "EXIT seq 2"},
            .log = {"START_APP_USB succeeded for configuration",
                    "Velkora management interface detected", "application EXIT succeeded"},
            .ending = failed("Unsupported application identity or configuration wire format.")},
        EditorCase{.name = "SetConfigItemBadValue",
                   .extra = "[faults]\nSET_CONFIG_ITEM 1 = status BAD_VALUE\n",
                   .typed = {"6", "1", "2", "1"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2",
                                "SET_CONFIG_ITEM seq 3 payload 02 01", "EXIT seq 4"},
                   .log = afterHandOver({"application EXIT succeeded"}),
                   .ending = failed("SET_CONFIG_ITEM failed: BAD_VALUE")},
        EditorCase{.name = "ResetConfigUnnamedStatus",
                   .extra = "[faults]\nRESET_CONFIG 1 = status 9\n",
                   .typed = {"6", "2"},
                   .requests = {"APP_GET_INFO seq 1", "GET_CONFIG seq 2", "RESET_CONFIG seq 3",
                                "EXIT seq 4"},
                   .log = afterHandOver({"application EXIT succeeded"}),
                   .ending = failed("RESET_CONFIG failed: STATUS_0x09")},
        EditorCase{.name = "HandOverRefused",
                   .extra = "[faults]\nSTART_APP_USB 1 = status BUSY\n",
                   .typed = {"6"},
                   .requests = {},
                   .log = {},
                   .ending = failed("START_APP_USB failed: BUSY")},
        EditorCase{.name = "HandOverTimesOutNotReworded",
                   .extra = "[faults]\nSTART_APP_USB 1 = no_answer\n",
                   .typed = {"6"},
                   .requests = {},
                   .log = {},
                   .ending = failed("Timed out reading HID response.")}),
    [](const ::testing::TestParamInfo<EditorCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::testing
