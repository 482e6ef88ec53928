#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/transcript_harness.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {
namespace {

// Every request the updater can send, in every flow that sends it, meets every way an answer
// can go wrong: it never comes, only stale and foreign reports come, it carries a wrong magic
// or protocol version, it arrives as a 64-byte report, or the adapter is pulled out. Each case
// runs the program's real entry point against the simulated adapter, and checks that the
// process ends with the prescribed message and exit code, that the run log is complete, that
// no handle stays open and that nothing unverified is saved or reported as success.

constexpr const char* kTimedOut = "Timed out reading HID response.";
constexpr const char* kGone = "HID read failed (Windows error 1167).";
constexpr const char* kSavedTo =
    "fault dump saved_to=<program folder>/logs/fault_dump_YYYYMMDD_HHMMSS.txt";
constexpr const char* kExitDone = "application EXIT succeeded";
constexpr const char* kExitNotDone = "application EXIT could not be completed during cleanup";
constexpr const char* kDeviceFound = "app compatibility=0x03";
constexpr const char* kManagementFound = "Velkora management interface detected";
constexpr const char* kConfigVerified =
    "configuration application identity and initial snapshot verified";
constexpr const char* kLeftInBootloader = "user exited and left Velkora in bootloader mode";

std::string connectionLost(const std::string& detail) {
    return "Application HID connection was lost or did not respond. Configuration was not "
           "stored; reconnect the device to continue. Detail: " +
           detail;
}

std::string storeUncertain(const std::string& detail) {
    return "STORE_CONFIG outcome is uncertain; the device may have stored settings and reset. "
           "Reconnect and inspect its configuration before trying again. Detail: " +
           detail;
}

// One way through the updater, from the main menu to the end of the process.
enum class FlowId {
    Leave,          // the run's first requests, then "leave in bootloader"
    StartDevice,    // START_APP
    FaultLog,       // view the fault log, then leave the adapter in its bootloader
    ClearFaultLog,  // the same in service mode, clearing the log
    Update,         // a clean transfer
    BusyIdle,       // the first START_UPDATE is refused BUSY while the bootloader is idle
    BusyError,      // the bootloader is found in ERROR: abort, then retry
    ConfigExit,     // configuration, leave without storing
    ConfigChange,   // configuration, change one item, leave without storing
    ConfigReset,    // configuration, restore defaults, leave without storing
    ConfigStore,    // configuration, store
};

// How a flow ends without faults: the console's last text, the last line of each run log in
// order, the EXIT requests the adapter received and whether a fault log was saved.
struct Ending {
    std::string consoleTail;
    std::vector<std::string> lastLogLines;
    int exits = 0;
    bool dumpSaved = false;
};

constexpr const char* kLeftMessage = "Leaving the Velkora in bootloader mode.\n";
const Ending kLeft{kLeftMessage, {kLeftInBootloader}};
const Ending kStarted{"Starting device...\n",
                      {"START_APP succeeded after user selected Start device"}};
const Ending kUpdated{
    "Update complete.\n\nPress R to restart updater and wait for another Velkora.\n"
    "Press Enter to close.\nSelection: ",
    {"user closed updater after update complete"}};
const Ending kFaultLogShown{
    kLeftMessage,
    {"fault-log operation complete; restarting adapter detection", kLeftInBootloader},
    1,
    true};
const Ending kConfigLeft{
    kLeftMessage,
    {"configuration operation complete; restarting adapter detection", kLeftInBootloader},
    1};
const Ending kConfigStored{
    kLeftMessage,
    {"configuration operation complete; restarting adapter detection", kLeftInBootloader}};

struct Flow {
    FlowId id;
    const char* name;
    std::vector<std::string> lines;  // typed by the user, in order
    Ending ending;
    bool configuration = false;  // failures are configuration failures
    std::vector<std::string> arguments = {};
    const char* settings = "";  // added to the matrix adapter
    const char* faults = "";    // [faults] lines the flow itself needs
};

const std::vector<Flow>& flows() {
    static const std::vector<Flow> table{
        {.id = FlowId::Leave, .name = "Leave", .lines = {"4"}, .ending = kLeft},
        {.id = FlowId::StartDevice, .name = "StartDevice", .lines = {"3"}, .ending = kStarted},
        {.id = FlowId::FaultLog, .name = "FaultLog", .lines = {"2", "4"}, .ending = kFaultLogShown},
        {.id = FlowId::ClearFaultLog,
         .name = "ClearFaultLog",
         .lines = {"2", "y", "CLEAR", "4"},
         .ending = kFaultLogShown,
         .arguments = {"--service"}},
        {.id = FlowId::Update, .name = "Update", .lines = {"1", ""}, .ending = kUpdated},
        {.id = FlowId::BusyIdle,
         .name = "BusyIdle",
         .lines = {"1", ""},
         .ending = kUpdated,
         .faults = "START_UPDATE 1 = status BUSY\n"},
        {.id = FlowId::BusyError,
         .name = "BusyError",
         .lines = {"1", ""},
         .ending = kUpdated,
         .settings = "[bootloader]\ntransfer = state=ERROR active=0 last_command=DATA_CHUNK "
                     "last_status=OFFSET_MISMATCH\n"},
        {.id = FlowId::ConfigExit,
         .name = "ConfigExit",
         .lines = {"6", "4", "4"},
         .ending = kConfigLeft,
         .configuration = true},
        {.id = FlowId::ConfigChange,
         .name = "ConfigChange",
         .lines = {"6", "1", "3", "2", "4", "4"},
         .ending = kConfigLeft,
         .configuration = true},
        {.id = FlowId::ConfigReset,
         .name = "ConfigReset",
         .lines = {"6", "2", "4", "4"},
         .ending = kConfigLeft,
         .configuration = true},
        {.id = FlowId::ConfigStore,
         .name = "ConfigStore",
         .lines = {"6", "3", "y", "4"},
         .ending = kConfigStored,
         .configuration = true},
    };
    return table;
}

const Flow& flow(FlowId id) {
    for (const Flow& f : flows()) {
        if (f.id == id) {
            return f;
        }
    }
    throw std::logic_error("unknown flow");
}

int countRequests(const TranscriptResult& result, std::uint8_t command) {
    int count = 0;
    for (const sim::ReceivedRequest& r : result.requests) {
        count += r.request.command == command ? 1 : 0;
    }
    return count;
}

constexpr std::uint8_t kExitCommand = 0x81;

std::vector<std::string> dumpFiles(const TranscriptResult& result) {
    std::vector<std::string> contents;
    for (const auto& [name, content] : result.files) {
        if (name.starts_with("logs/fault_dump_")) {
            contents.push_back(content);
        }
    }
    return contents;
}

// Runs a flow with extra [faults] lines on a scenario file of its own.
TranscriptResult runFlow(const Flow& f, const std::vector<std::string>& faultLines) {
    const std::filesystem::path scenarios = VELKORA_TEST_SCENARIOS;
    std::string text = readFileText(scenarios / "fault_matrix_adapter.scn");
    text += "\n";
    text += f.settings;
    text += "\n[faults]\n";
    text += f.faults;
    for (const std::string& line : faultLines) {
        text += line + "\n";
    }
    TempFolder folder;
    const std::filesystem::path scenario = folder.path() / "case.scn";
    writeFileText(scenario, text);

    TranscriptScript script{scenario.string(), f.arguments, {}, FirmwarePackageProfile{}};
    for (const std::string& line : f.lines) {
        script.user.lines.push_back({0, line});
    }
    return runTranscript(script);
}

// The clean run of each flow, run once and kept: harmless faults must leave no trace in it.
const TranscriptResult& cleanRun(FlowId id) {
    static std::map<FlowId, TranscriptResult> runs;
    auto found = runs.find(id);
    if (found == runs.end()) {
        found = runs.emplace(id, runFlow(flow(id), {})).first;
    }
    return found->second;
}

std::vector<std::string> lastLines(const TranscriptResult& result) {
    std::vector<std::string> last;
    for (const auto& [name, lines] : result.logs) {
        last.push_back(lines.empty() ? "<empty log>" : lines.back());
    }
    return last;
}

void PrintTo(const Flow& f, std::ostream* out) {
    *out << f.name;
}

class CleanFlow : public ::testing::TestWithParam<Flow> {};

// The baseline of the matrix: each flow without faults ends as the user chose.
TEST_P(CleanFlow, EndsAsChosen) {
    const Flow& f = GetParam();
    const TranscriptResult& result = cleanRun(f.id);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.printed.ends_with(f.ending.consoleTail)) << visible(result.printed);
    EXPECT_EQ(lastLines(result), f.ending.lastLogLines);
    EXPECT_EQ(countRequests(result, kExitCommand), f.ending.exits);
    EXPECT_EQ(dumpFiles(result).size(), f.ending.dumpSaved ? 1u : 0u);
    EXPECT_EQ(result.openConnections, 0u);
    EXPECT_EQ(result.linesNotRead, 0u);
}

INSTANTIATE_TEST_SUITE_P(Matrix, CleanFlow, ::testing::ValuesIn(flows()),
                         [](const ::testing::TestParamInfo<Flow>& row) { return row.param.name; });

// How a case is expected to fail: the message under the flow's heading, the last lines of
// the run log, the EXIT requests the adapter received and whether a fault log was saved.
struct Failure {
    std::string message;
    std::vector<std::string> logTail;
    int exits = 0;
    bool dumpSaved = false;
};

// One request of one flow, and what each way of losing its answer leads to.
struct Target {
    const char* name;
    FlowId flow;
    const char* request;  // the fault's target as written in a scenario: "GET_STATUS 2"
    const char* aim;      // "" or " report=K" for a fault-dump report
    Failure noAnswer;
    std::optional<Failure> staleOnly;  // when it differs from noAnswer
    Failure unplugged;
    std::optional<Failure> badHeader;  // none: magic and version are not checked
};

// The ways an answer goes wrong.
enum class Kind {
    NoAnswer,    // the request is lost: not carried out, not answered
    StaleOnly,   // carried out, but only late answers to earlier requests and answers to
                 // other commands arrive, never its own
    BadMagic,    // its answer carries a wrong magic
    BadVersion,  // its answer carries a wrong protocol version
    NoReportId,  // its answer is read as 64 bytes, without the report ID: harmless
    Unplug,      // the adapter is pulled out as the request arrives
};

constexpr Kind kKinds[] = {Kind::NoAnswer,   Kind::StaleOnly,  Kind::BadMagic,
                           Kind::BadVersion, Kind::NoReportId, Kind::Unplug};

const char* kindName(Kind kind) {
    switch (kind) {
        case Kind::NoAnswer:
            return "NoAnswer";
        case Kind::StaleOnly:
            return "OnlyStaleAndForeign";
        case Kind::BadMagic:
            return "WrongMagic";
        case Kind::BadVersion:
            return "WrongVersion";
        case Kind::NoReportId:
            return "SixtyFourBytes";
        case Kind::Unplug:
            break;
    }
    return "Unplugged";
}

std::vector<std::string> faultLines(const Target& t, Kind kind) {
    const std::string at = std::string(t.request) + " = ";
    const bool dumpReport = t.aim[0] != '\0';
    switch (kind) {
        case Kind::NoAnswer:
            return {at + "no_answer" + t.aim};
        case Kind::StaleOnly:
            // Within a dump, a stale report is one of an earlier download.
            if (dumpReport) {
                return {at + "bad_sequence" + t.aim};
            }
            return {at + "stale 2", at + "foreign 2", at + "answer_lost"};
        case Kind::BadMagic:
            return {at + "bad_magic" + t.aim};
        case Kind::BadVersion:
            return {at + "bad_version" + t.aim};
        case Kind::NoReportId:
            return {at + "no_report_id" + t.aim};
        case Kind::Unplug:
            break;
    }
    return {at + "unplug" + t.aim};
}

// None: the flow completes exactly as without the fault.
std::optional<Failure> expectedFailure(const Target& t, Kind kind) {
    switch (kind) {
        case Kind::NoAnswer:
            return t.noAnswer;
        case Kind::StaleOnly:
            return t.staleOnly ? t.staleOnly : t.noAnswer;
        case Kind::BadMagic:
        case Kind::BadVersion:
            return t.badHeader;
        case Kind::NoReportId:
            return std::nullopt;
        case Kind::Unplug:
            break;
    }
    return t.unplugged;
}

Failure fails(std::string message, std::vector<std::string> logTail, int exits = 0,
              bool dumpSaved = false) {
    return Failure{std::move(message), std::move(logTail), exits, dumpSaved};
}

// Whether the adapter leaves the bus once it has carried out the request (it starts its
// application, installs an image, leaves management mode or stores). When such a request's
// answer is lost, the read fails because the adapter went away, not by a time-out.
enum class Leaves { No, Yes };

// A request of the run itself or of the transfer: the bootloader's answer is taken by its
// command and sequence alone, so a wrong magic or version does no harm.
Target bootloaderRequest(const char* name, FlowId f, const char* request,
                         const std::vector<std::string>& logTail, Leaves leaves = Leaves::No) {
    std::optional<Failure> answerLost;
    if (leaves == Leaves::Yes) {
        answerLost = fails(kGone, logTail);
    }
    return Target{
        name,        f, request, "", fails(kTimedOut, logTail), answerLost, fails(kGone, logTail),
        std::nullopt};
}

// A configuration request after the hand-over: transport failures are reworded, a cleanup
// EXIT is sent (it cannot reach an adapter that was pulled out).
Target configRequest(const char* name, FlowId f, const char* request, const char* lastBefore) {
    return Target{name,
                  f,
                  request,
                  "",
                  fails(connectionLost(kTimedOut), {lastBefore, kExitDone}, 1),
                  std::nullopt,
                  fails(connectionLost(kGone), {lastBefore, kExitNotDone}, 0),
                  fails("Configuration command returned an invalid application HID response.",
                        {lastBefore, kExitDone}, 1)};
}

const std::vector<Target>& targets() {
    static const std::vector<Target> table{
        bootloaderRequest("RunGetInfo", FlowId::Leave, "GET_INFO 1",
                          {"Velkora HID bootloader detected"}),
        bootloaderRequest("RunGetAppInfo", FlowId::Leave, "GET_APP_INFO 1",
                          {"device serial=2050384E3436"}),
        bootloaderRequest("RunGetStatus", FlowId::Leave, "GET_STATUS 1",
                          {"device serial=2050384E3436"}),
        bootloaderRequest("StartApp", FlowId::StartDevice, "START_APP 1", {kDeviceFound},
                          Leaves::Yes),
        bootloaderRequest("FaultLogStartAppUsb", FlowId::FaultLog, "START_APP_USB 1",
                          {kDeviceFound}, Leaves::Yes),
        bootloaderRequest("ConfigStartAppUsb", FlowId::ConfigExit, "START_APP_USB 1",
                          {kDeviceFound}, Leaves::Yes),
        bootloaderRequest("StartUpdate", FlowId::Update, "START_UPDATE 1", {"transfer start"}),
        bootloaderRequest("BusyRecoveryGetStatus", FlowId::BusyIdle, "GET_STATUS 2",
                          {"transfer start"}),
        bootloaderRequest("BusyRetryWhileIdle", FlowId::BusyIdle, "START_UPDATE 2",
                          {"START_UPDATE recovery: state is IDLE; retrying START_UPDATE once"}),
        bootloaderRequest(
            "BusyAbortUpdate", FlowId::BusyError, "ABORT_UPDATE 1",
            {"START_UPDATE recovery: ERROR with no active transfer; sending ABORT_UPDATE"}),
        bootloaderRequest(
            "BusyGetStatusAfterAbort", FlowId::BusyError, "GET_STATUS 3",
            {"START_UPDATE recovery: ERROR with no active transfer; sending ABORT_UPDATE"}),
        bootloaderRequest("BusyRetryAfterAbort", FlowId::BusyError, "START_UPDATE 2",
                          {"START_UPDATE recovery: sending one retry after ABORT_UPDATE"}),
        bootloaderRequest("DataChunk", FlowId::Update, "DATA_CHUNK 2", {"transfer start"}),
        bootloaderRequest("GetStatusAfterData", FlowId::Update, "GET_STATUS 2", {"transfer start"}),
        // The image is installed all the same: the update is not reported as complete.
        bootloaderRequest("EndUpdate", FlowId::Update, "END_UPDATE 1", {"transfer start"},
                          Leaves::Yes),
        Target{
            "FaultDumpCommand", FlowId::FaultLog, "FAULT_DUMP 1", "",
            fails(kTimedOut,
                  {"FAULT_DUMP initial response failed sequence=1 error=Timed out reading "
                   "HID response.",
                   "FAULT_DUMP application HID after failure: expected_device=present "
                   "management_interfaces=1",
                   kExitDone},
                  1),
            // The acknowledgement is lost, so the first dump report answers the command.
            fails("FAULT_DUMP returned an invalid initial response.",
                  {"FAULT_DUMP initial response had nonzero payload length=56", kExitDone}, 1),
            fails(kGone, {"FAULT_DUMP initial response failed sequence=1 error=HID read failed "
                          "(Windows error 1167).",
                          "FAULT_DUMP application HID after failure: expected_device=not_present "
                          "management_interfaces=0",
                          kExitNotDone}),
            fails("FAULT_DUMP returned an invalid application HID report.",
                  {"FAULT_DUMP initial response failed sequence=1 error=FAULT_DUMP returned "
                   "an invalid application HID report.",
                   "FAULT_DUMP application HID after failure: expected_device=present "
                   "management_interfaces=1",
                   kExitDone},
                  1)},
        // Without its second report the dump still ends with its marker, but its records are
        // broken: the parser refuses it and nothing is shown or saved.
        Target{"FaultDumpReport", FlowId::FaultLog, "FAULT_DUMP 1", " report=2",
               fails("Fault log display failed: unsupported fault record format.",
                     {"FAULT_DUMP report=3 payload_bytes=1 total_bytes=113 elapsed_ms=8 gap_ms=2 "
                      "end_marker=yes",
                      "FAULT_DUMP complete reports=3 bytes=113 elapsed_ms=8", kExitDone},
                     1),
               fails("FAULT_DUMP returned an invalid application HID report.",
                     {"FAULT_DUMP invalid report=2 hid_bytes=65 elapsed_ms=4 gap_ms=2 "
                      "error=FAULT_DUMP returned an invalid application HID report.",
                      kExitDone},
                     1),
               fails("Fault log download failed: the complete dump end marker was not received.",
                     {"FAULT_DUMP read failed reports=1 bytes=56 elapsed_ms=4 "
                      "last_report_age_ms=2 error=HID read failed (Windows error 1167).",
                      "FAULT_DUMP application HID after failure: expected_device=not_present "
                      "management_interfaces=0",
                      kExitNotDone}),
               fails("FAULT_DUMP returned an invalid application HID report.",
                     {"FAULT_DUMP invalid report=2 hid_bytes=65 elapsed_ms=4 gap_ms=2 "
                      "error=FAULT_DUMP returned an invalid application HID report.",
                      kExitDone},
                     1)},
        Target{"ClearFaults", FlowId::ClearFaultLog, "CLEAR_FAULTS 1", "",
               fails(kTimedOut, {kSavedTo, kExitDone}, 1, true), std::nullopt,
               fails(kGone, {kSavedTo, kExitNotDone}, 0, true),
               fails("CLEAR_FAULTS returned an invalid application HID report.",
                     {kSavedTo, kExitDone}, 1, true)},
        // A failed EXIT is never sent a second time.
        Target{"FaultLogExit", FlowId::FaultLog, "EXIT 1", "",
               fails(kTimedOut, {kSavedTo}, 1, true), fails(kGone, {kSavedTo}, 1, true),
               fails(kGone, {kSavedTo}, 1, true),
               fails("EXIT returned an invalid application HID report.", {kSavedTo}, 1, true)},
        Target{"ConfigExit", FlowId::ConfigExit, "EXIT 1", "",
               fails(connectionLost(kTimedOut), {kConfigVerified}, 1),
               fails(connectionLost(kGone), {kConfigVerified}, 1),
               fails(connectionLost(kGone), {kConfigVerified}, 1),
               fails("EXIT returned an invalid application HID report.", {kConfigVerified}, 1)},
        configRequest("ConfigGetInfo", FlowId::ConfigExit, "APP_GET_INFO 1", kManagementFound),
        configRequest("ConfigFirstGetConfig", FlowId::ConfigExit, "GET_CONFIG 1", kManagementFound),
        configRequest("ConfigSetItem", FlowId::ConfigChange, "SET_CONFIG_ITEM 1", kConfigVerified),
        configRequest("ConfigReadBack", FlowId::ConfigChange, "GET_CONFIG 2", kConfigVerified),
        configRequest("ConfigReset", FlowId::ConfigReset, "RESET_CONFIG 1", kConfigVerified),
        // The adapter may have stored and restarted: nothing more is sent to it, no EXIT.
        Target{"ConfigStore", FlowId::ConfigStore, "STORE_CONFIG 1", "",
               fails(storeUncertain(kTimedOut),
                     {kConfigVerified,
                      "STORE_CONFIG outcome uncertain: Timed out reading HID response."}),
               fails(storeUncertain(kGone),
                     {kConfigVerified,
                      "STORE_CONFIG outcome uncertain: HID read failed (Windows error 1167)."}),
               fails(storeUncertain(kGone),
                     {kConfigVerified,
                      "STORE_CONFIG outcome uncertain: HID read failed (Windows error 1167)."}),
               fails(storeUncertain(
                         "Configuration command returned an invalid application HID response."),
                     {kConfigVerified,
                      "STORE_CONFIG outcome uncertain: Configuration command returned an "
                      "invalid application HID response."})},
    };
    return table;
}

void PrintTo(const Target& t, std::ostream* out) {
    *out << t.name;
}

void PrintTo(Kind kind, std::ostream* out) {
    *out << kindName(kind);
}

using MatrixCase = std::tuple<Target, Kind>;

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

std::vector<std::string> tail(const std::vector<std::string>& lines, std::size_t count) {
    const std::size_t from = lines.size() > count ? lines.size() - count : 0;
    return {lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end()};
}

TEST_P(FaultMatrix, EndsAsPrescribed) {
    const auto& [target, kind] = GetParam();
    const Flow& f = flow(target.flow);
    const TranscriptResult result = runFlow(f, faultLines(target, kind));
    const TranscriptResult& clean = cleanRun(target.flow);

    // No hang: the longest wait of any flow is far below the harness's two virtual hours.
    EXPECT_LT(result.virtualMs, 120000u);
    EXPECT_EQ(result.openConnections, 0u) << "every HID handle is closed on the way out";

    const std::optional<Failure> failure = expectedFailure(target, kind);
    if (!failure) {
        // Harmless: the same dialogue, logs and files as without the fault.
        EXPECT_EQ(result.exitCode, clean.exitCode);
        EXPECT_EQ(visible(result.printed), visible(clean.printed));
        EXPECT_EQ(result.logs, clean.logs);
        EXPECT_EQ(dumpFiles(result), dumpFiles(clean));
        EXPECT_EQ(countRequests(result, kExitCommand), countRequests(clean, kExitCommand));
        return;
    }

    const std::string heading = f.configuration ? "Configuration failed." : "Update failed.";
    EXPECT_EQ(result.exitCode, 1);
    const std::string closing =
        "\n" + heading + "\n" + failure->message + "\n\nPress Enter to close.";
    EXPECT_TRUE(result.printed.ends_with(closing))
        << "expected the console to end with:\n"
        << visible(closing) << "\nbut it ends with:\n"
        << visible(result.printed.substr(result.printed.size() > 400 ? result.printed.size() - 400
                                                                     : 0));
    EXPECT_EQ(result.printed.find("Update complete."), std::string::npos);
    EXPECT_EQ(result.printed.find("Store accepted."), std::string::npos);

    ASSERT_EQ(result.logs.size(), 1u) << "a failure ends the process in the run it hit";
    const std::vector<std::string>& log = result.logs.begin()->second;
    EXPECT_EQ(tail(log, failure->logTail.size()), failure->logTail);

    EXPECT_EQ(countRequests(result, kExitCommand), failure->exits);
    const std::vector<std::string> dumps = dumpFiles(result);
    if (failure->dumpSaved) {
        // Only a fault log that was verified whole is saved, and exactly as rendered.
        ASSERT_EQ(dumps.size(), 1u);
        EXPECT_EQ(dumps.front(), dumpFiles(cleanRun(FlowId::FaultLog)).at(0));
        EXPECT_NE(result.printed.find("Total number of faults: 3"), std::string::npos);
    } else {
        EXPECT_TRUE(dumps.empty());
        EXPECT_EQ(result.printed.find("Total number of faults"), std::string::npos)
            << "no fault log is shown unless it was verified and saved";
    }
}

std::string caseName(const ::testing::TestParamInfo<MatrixCase>& info) {
    return std::string(std::get<0>(info.param).name) + "_" + kindName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(targets()),
                                            ::testing::ValuesIn(kKinds)),
                         caseName);

}  // namespace
}  // namespace velkora::testing
