#include <gtest/gtest.h>

#include <array>
#include <map>
#include <optional>

#include "tests/e2e/session.h"

namespace velkora::testing {
namespace {

// Every request the updater can send, in every flow that sends it, meets every way an answer
// can go wrong: it never comes, only stale and foreign reports come, it carries a wrong magic
// or protocol version, it arrives as a 64-byte report, or the adapter is pulled out. Each case
// runs the program's real entry point against the simulated adapter and checks the closing
// message and exit code, the run log, the EXIT requests, that no handle stays open and that
// nothing unverified is saved, shown or reported as a success.

constexpr const char* kTimedOut = "Timed out reading HID response.";
constexpr const char* kGone = "HID read failed (Windows error 1167).";
constexpr const char* kExitDone = "application EXIT succeeded";
constexpr const char* kExitNotDone = "application EXIT could not be completed during cleanup";
constexpr const char* kSaved = "fault dump saved_to=<program folder>/logs/fault_dump_";
constexpr const char* kLeft = "user exited and left Velkora in bootloader mode";

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

// One way through the updater from the main menu to the end of the process, without faults.
struct Flow {
    const char* name;
    std::vector<std::string> typed;
    const char* lastLog;  // the last line of the last run log
    int exits = 0;        // EXIT requests
    bool configuration = false;
    const char* settings = "";  // scenario lines of the flow itself
    bool service = false;
};

const Flow kLeave{"Leave", {"4"}, kLeft};
const Flow kStart{"StartDevice", {"3"}, "START_APP succeeded after user selected Start device"};
const Flow kFaultLog{"FaultLog", {"2", "4"}, kLeft, 1};
const Flow kClear{"Clear", {"2", "y", "CLEAR", "4"}, kLeft, 1, false, "", true};
const Flow kUpdate{"Update", {"1", ""}, "user closed updater after update complete"};
const Flow kBusyIdle{"BusyIdle", {"1", ""}, kUpdate.lastLog,
                     0,          false,     "[faults]\nSTART_UPDATE 1 = status BUSY\n"};
const Flow kBusyError{"BusyError", {"1", ""}, kUpdate.lastLog,
                      0,           false,     "[bootloader]\ntransfer = state=ERROR active=0\n"};
const Flow kConfigExit{"ConfigExit", {"6", "4", "4"}, kLeft, 1, true};
const Flow kConfigChange{"ConfigChange", {"6", "1", "3", "2", "4", "4"}, kLeft, 1, true};
const Flow kConfigReset{"ConfigReset", {"6", "2", "4", "4"}, kLeft, 1, true};
const Flow kConfigStore{"ConfigStore", {"6", "3", "y", "4"}, kLeft, 0, true};

// How a case fails: the message under the flow's heading, a run-log line, the EXIT requests
// and whether the fault log was saved (only a log verified whole ever is).
struct Failure {
    std::string message;
    std::string log;
    int exits = 0;
    bool saved = false;
};

enum Kind { NoAnswer, StaleOnly, BadMagic, BadVersion, NoReportId, Unplug, kKinds };
constexpr std::array<const char*, kKinds> kKindNames{
    "NoAnswer", "OnlyStaleAndForeign", "WrongMagic", "WrongVersion", "SixtyFourBytes", "Unplugged"};

// One request of one flow and what each kind leads to; none: the flow ends as without it.
struct Target {
    const char* name;
    const Flow* flow;
    std::string request;  // the fault's aim as a scenario writes it: "GET_STATUS 2"
    std::string aim;      // "" or " report=K" for a fault-dump report
    std::array<std::optional<Failure>, kKinds> outcome;
};

// The bootloader's answer is taken by its command and sequence alone, so a wrong magic or
// version does no harm. When the adapter leaves the bus after carrying a request out, a lost
// answer ends in a failed read instead of a time-out.
Target bootloaderRequest(const char* name, const Flow& flow, const char* request, const char* log,
                         bool leaves = false) {
    return {name,
            &flow,
            request,
            "",
            {Failure{kTimedOut, log}, Failure{leaves ? kGone : kTimedOut, log}, std::nullopt,
             std::nullopt, std::nullopt, Failure{kGone, log}}};
}

// After the hand-over, transport failures are reworded and a clean-up EXIT is sent, which
// cannot reach an adapter that was pulled out.
Target configRequest(const char* name, const Flow& flow, const char* request) {
    const Failure bad{"Configuration command returned an invalid application HID response.",
                      kExitDone, 1};
    return {name,
            &flow,
            request,
            "",
            {Failure{connectionLost(kTimedOut), kExitDone, 1},
             Failure{connectionLost(kTimedOut), kExitDone, 1}, bad, bad, std::nullopt,
             Failure{connectionLost(kGone), kExitNotDone}}};
}

Target managementRequest(const char* name, const Flow& flow, const char* request,
                         const char* invalid, const char* log, bool saved) {
    return {name,
            &flow,
            request,
            "",
            {Failure{kTimedOut, log, 1, saved}, Failure{kTimedOut, log, 1, saved},
             Failure{invalid, kExitDone, 1, saved}, Failure{invalid, kExitDone, 1, saved},
             std::nullopt, Failure{kGone, kExitNotDone, 0, saved}}};
}

std::vector<Target> targets() {
    const char* lostDump =
        "Fault log download failed: the complete dump end marker was not received.";
    const char* invalidReport = "FAULT_DUMP returned an invalid application HID report.";
    std::vector<Target> table{
        bootloaderRequest("GetInfo", kLeave, "GET_INFO 1", "Velkora HID bootloader detected"),
        bootloaderRequest("GetAppInfo", kLeave, "GET_APP_INFO 1", "device serial=2050384E3436"),
        bootloaderRequest("GetStatus", kLeave, "GET_STATUS 1", "device serial=2050384E3436"),
        bootloaderRequest("StartApp", kStart, "START_APP 1", "app compatibility=0x03", true),
        bootloaderRequest("FaultLogStartAppUsb", kFaultLog, "START_APP_USB 1",
                          "app compatibility=0x03", true),
        bootloaderRequest("ConfigStartAppUsb", kConfigExit, "START_APP_USB 1",
                          "app compatibility=0x03", true),
        bootloaderRequest("StartUpdate", kUpdate, "START_UPDATE 1", "transfer start"),
        bootloaderRequest("BusyGetStatus", kBusyIdle, "GET_STATUS 2", "transfer start"),
        bootloaderRequest("BusyRetry", kBusyIdle, "START_UPDATE 2",
                          "START_UPDATE recovery: state is IDLE; retrying START_UPDATE once"),
        bootloaderRequest("BusyAbort", kBusyError, "ABORT_UPDATE 1",
                          "START_UPDATE recovery: ERROR with no active transfer; sending "
                          "ABORT_UPDATE"),
        bootloaderRequest("BusyStatusAfterAbort", kBusyError, "GET_STATUS 3",
                          "START_UPDATE recovery: ERROR with no active transfer; sending "
                          "ABORT_UPDATE"),
        bootloaderRequest("BusyRetryAfterAbort", kBusyError, "START_UPDATE 2",
                          "START_UPDATE recovery: sending one retry after ABORT_UPDATE"),
        bootloaderRequest("DataChunk", kUpdate, "DATA_CHUNK 2", "transfer start"),
        bootloaderRequest("StatusAfterData", kUpdate, "GET_STATUS 2", "transfer start"),
        // The image is installed all the same: the update is not reported as complete.
        bootloaderRequest("EndUpdate", kUpdate, "END_UPDATE 1", "transfer start", true),
        // The acknowledgement lost, the first dump report answers the command.
        {"FaultDumpCommand",
         &kFaultLog,
         "FAULT_DUMP 1",
         "",
         {Failure{kTimedOut,
                  "FAULT_DUMP application HID after failure: expected_device=present "
                  "management_interfaces=1",
                  1},
          Failure{"FAULT_DUMP returned an invalid initial response.", kExitDone, 1},
          Failure{invalidReport, kExitDone, 1}, Failure{invalidReport, kExitDone, 1}, std::nullopt,
          Failure{kGone,
                  "FAULT_DUMP application HID after failure: expected_device=not_present "
                  "management_interfaces=0"}}},
        // Without its second report the dump's records are broken: nothing is shown or saved.
        {"FaultDumpReport",
         &kFaultLog,
         "FAULT_DUMP 1",
         " report=2",
         {Failure{"Fault log display failed: unsupported fault record format.", kExitDone, 1},
          Failure{invalidReport, kExitDone, 1}, Failure{invalidReport, kExitDone, 1},
          Failure{invalidReport, kExitDone, 1}, std::nullopt, Failure{lostDump, kExitNotDone}}},
        managementRequest("ClearFaults", kClear, "CLEAR_FAULTS 1",
                          "CLEAR_FAULTS returned an invalid application HID report.", kSaved, true),
        configRequest("ConfigGetInfo", kConfigExit, "APP_GET_INFO 1"),
        configRequest("ConfigGetConfig", kConfigExit, "GET_CONFIG 1"),
        configRequest("ConfigSetItem", kConfigChange, "SET_CONFIG_ITEM 1"),
        configRequest("ConfigReadBack", kConfigChange, "GET_CONFIG 2"),
        configRequest("ConfigReset", kConfigReset, "RESET_CONFIG 1"),
    };
    // A failed EXIT is never sent a second time. An answer lost after the adapter carried
    // EXIT out is a read of an adapter that has left.
    const Failure exitInvalid{"EXIT returned an invalid application HID report.", kSaved, 1, true};
    const Failure exitGone{kGone, kSaved, 1, true};
    table.push_back({"FaultLogExit",
                     &kFaultLog,
                     "EXIT 1",
                     "",
                     {Failure{kTimedOut, kSaved, 1, true}, exitGone, exitInvalid, exitInvalid,
                      std::nullopt, exitGone}});
    const char* verified = "configuration application identity and initial snapshot verified";
    const Failure configGone{connectionLost(kGone), verified, 1};
    const Failure configInvalid{"EXIT returned an invalid application HID report.", verified, 1};
    table.push_back({"ConfigExit",
                     &kConfigExit,
                     "EXIT 1",
                     "",
                     {Failure{connectionLost(kTimedOut), verified, 1}, configGone, configInvalid,
                      configInvalid, std::nullopt, configGone}});
    // The adapter may have stored and restarted: nothing more is sent to it, no EXIT.
    const auto uncertain = [](const std::string& detail) {
        return Failure{storeUncertain(detail), "STORE_CONFIG outcome uncertain: " + detail};
    };
    const std::string invalid =
        "Configuration command returned an invalid application HID response.";
    table.push_back({"ConfigStore",
                     &kConfigStore,
                     "STORE_CONFIG 1",
                     "",
                     {uncertain(kTimedOut), uncertain(kGone), uncertain(invalid),
                      uncertain(invalid), std::nullopt, uncertain(kGone)}});
    return table;
}

std::vector<std::string> faultLines(const Target& t, Kind kind) {
    const std::string at = t.request + " = ";
    switch (kind) {
        case NoAnswer:
            return {at + "no_answer" + t.aim};
        case StaleOnly:  // within a dump, a stale report is one of an earlier download
            return t.aim.empty() ? std::vector<std::string>{at + "stale 2", at + "foreign 2",
                                                            at + "answer_lost"}
                                 : std::vector<std::string>{at + "bad_sequence" + t.aim};
        case BadMagic:
            return {at + "bad_magic" + t.aim};
        case BadVersion:
            return {at + "bad_version" + t.aim};
        case NoReportId:
            return {at + "no_report_id" + t.aim};
        default:
            return {at + "unplug" + t.aim};
    }
}

SessionResult runFlow(const Flow& flow, const std::vector<std::string>& faults) {
    Session session;
    session.scenarioName = "adapter.scn + three_faults.scn";
    session.scenario = scenarioText("adapter.scn") + "\n" + scenarioText("three_faults.scn") +
                       "\n" + flow.settings + "\n[faults]\n";
    for (const std::string& line : faults) {
        session.scenario += line + "\n";
    }
    session.package = PackageProfile{};
    if (flow.service) {
        session.arguments.push_back("--service");
    }
    for (const std::string& line : flow.typed) {
        session.user.lines.push_back({0, line});
    }
    return runSession(session);
}

int exitRequests(const SessionResult& result) {
    const std::vector<std::string> requests = requestLines(result);
    return static_cast<int>(std::count_if(requests.begin(), requests.end(),
                                          [](const auto& r) { return r.starts_with("EXIT "); }));
}

// The clean run of each flow, run once: it ends as the user chose, and harmless faults leave
// exactly the same traces.
const SessionResult& cleanRun(const Flow& flow) {
    static std::map<std::string, SessionResult> runs;
    if (!runs.contains(flow.name)) {
        SessionResult result = runFlow(flow, {});
        EXPECT_EQ(result.exitCodes, std::vector<int>{0}) << flow.name;
        EXPECT_EQ(allLogLines(result).back(), flow.lastLog) << flow.name;
        EXPECT_EQ(exitRequests(result), flow.exits) << flow.name;
        runs.emplace(flow.name, std::move(result));
    }
    return runs.at(flow.name);
}

std::vector<std::string> dumps(const SessionResult& result) {
    std::vector<std::string> saved;
    for (const auto& [name, content] : result.files) {
        if (name.starts_with("logs/fault_dump_")) {
            saved.push_back(content);
        }
    }
    return saved;
}

void PrintTo(const Target& target, std::ostream* out) {
    *out << target.name;
}

using MatrixCase = std::tuple<Target, Kind>;
class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, EndsAsPrescribed) {
    const auto& [target, kind] = GetParam();
    const SessionResult result = runFlow(*target.flow, faultLines(target, kind));
    const SessionResult& clean = cleanRun(*target.flow);
    EXPECT_EQ(result.openConnections, 0u) << "every HID handle is closed on the way out";
    EXPECT_LT(result.virtualMs, 120000u) << "no hang";

    const std::optional<Failure>& failure = target.outcome[kind];
    if (!failure) {
        EXPECT_EQ(result.exitCodes, clean.exitCodes);
        EXPECT_EQ(visible(result.printed), visible(clean.printed));
        EXPECT_EQ(result.logs, clean.logs);
        EXPECT_EQ(dumps(result), dumps(clean));
        EXPECT_EQ(exitRequests(result), exitRequests(clean));
        return;
    }
    const std::string heading =
        target.flow->configuration ? "Configuration failed." : "Update failed.";
    EXPECT_EQ(result.exitCodes, std::vector<int>{1});
    EXPECT_TRUE(result.printed.ends_with("\n" + heading + "\n" + failure->message +
                                         "\n\nPress Enter to close."))
        << visible(result.printed.substr(result.printed.size() - 300));
    EXPECT_EQ(result.printed.find("Update complete."), std::string::npos);
    EXPECT_EQ(result.printed.find("Store accepted."), std::string::npos);
    const std::vector<std::string> log = allLogLines(result);
    EXPECT_NE(std::find_if(log.begin(), log.end(),
                           [&](const auto& line) { return line.starts_with(failure->log); }),
              log.end())
        << failure->log;
    EXPECT_EQ(exitRequests(result), failure->exits);
    // Only a fault log verified whole is saved, and exactly as rendered.
    EXPECT_EQ(dumps(result),
              failure->saved ? dumps(cleanRun(kFaultLog)) : std::vector<std::string>{});
    EXPECT_EQ(result.printed.find("Total number of faults") != std::string::npos, failure->saved);
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(targets()),
                                            ::testing::Values(NoAnswer, StaleOnly, BadMagic,
                                                              BadVersion, NoReportId, Unplug)),
                         [](const ::testing::TestParamInfo<MatrixCase>& row) {
                             return std::string(std::get<0>(row.param).name) + "_" +
                                    kKindNames[std::get<1>(row.param)];
                         });

}  // namespace
}  // namespace velkora::testing
