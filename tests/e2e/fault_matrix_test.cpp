#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <ranges>

#include "tests/e2e/session.h"

namespace velkora::testing {
namespace {

// Every request the updater can send, in every flow that sends it, meets every way an answer
// can go wrong (the kinds below; a 64-byte report is always harmless). Each case runs the real
// entry point against the simulated adapter and checks the closing message and exit code, a
// run-log line, the EXIT requests and that nothing unverified is saved, shown or reported as a
// success; runSession checks that no handle stays open.

const std::string kTimedOut = "Timed out reading HID response.";
const std::string kGone = "HID read failed (Windows error 1167).";
const std::string kExitDone = "application EXIT succeeded";
const std::string kExitNotDone = "application EXIT could not be completed during cleanup";
const std::string kSaved = "fault dump saved_to=<program folder>/logs/fault_dump_";
const std::string kInvalid = "Configuration command returned an invalid application HID response.";
const std::string kVerified = "configuration application identity and initial snapshot verified";
const std::string kLost =
    "Application HID connection was lost or did not respond. Configuration was not stored; "
    "reconnect the device to continue. Detail: ";

// One way from the main menu to the end of the process, and how it ends without faults: the
// last run-log line and the EXIT requests.
struct Flow {
    std::vector<std::string> typed;
    std::string lastLog = "user exited and left Velkora in bootloader mode";
    int exits = 0;
    std::string settings = {};  // scenario lines of the flow itself
    std::vector<std::string> arguments = {};
};

const std::string kUpdated = "user closed updater after update complete";
const Flow kLeave{{"4"}};
const Flow kStart{{"3"}, "START_APP succeeded after user selected Start device"};
const Flow kFaultLog{{"2", "4"}, kLeave.lastLog, 1};
const Flow kClear{{"2", "y", "CLEAR", "4"}, kLeave.lastLog, 1, "", {"--service"}};
const Flow kUpdate{{"1", ""}, kUpdated};
const Flow kBusyIdle{{"1", ""}, kUpdated, 0, "[faults]\nSTART_UPDATE 1 = status BUSY"};
const Flow kBusyError{{"1", ""}, kUpdated, 0, "[bootloader]\ntransfer = state=ERROR active=0"};
const Flow kConfigExit{{"6", "4", "4"}, kLeave.lastLog, 1};
const Flow kConfigChange{{"6", "1", "3", "2", "4", "4"}, kLeave.lastLog, 1};
const Flow kConfigReset{{"6", "2", "4", "4"}, kLeave.lastLog, 1};
const Flow kConfigStore{{"6", "3", "y", "4"}};

// How a case fails: the message under its heading, the start of a run-log line, the EXIT
// requests and whether the fault log was saved; none: it ends as without the fault.
struct Failure {
    std::string message;
    std::string log;
    int exits = 0;
    bool saved = false;
};
using Outcome = std::optional<Failure>;

// The kinds of fault, each with its name in a test's name and the scenario word that plants it.
enum Kind { NoAnswer, StaleOnly, BadMagic, BadVersion, NoReportId, Unplug, kKinds };
constexpr std::pair<const char*, const char*> kFaults[] = {
    {"NoAnswer", "no_answer"},          {"OnlyStaleAndForeign", "bad_sequence"},
    {"WrongMagic", "bad_magic"},        {"WrongVersion", "bad_version"},
    {"SixtyFourBytes", "no_report_id"}, {"Unplugged", "unplug"}};

// One request of one flow, and what a lost answer, only stale ones, a wrong header and an
// unplug lead to.
struct Target {
    const char* name;
    const Flow* flow;
    std::string request;  // as a scenario aims a fault: "GET_STATUS 2", with " report=K"
    Outcome lost, stale, header, unplugged;
};

// The bootloader's answer is taken by its command and sequence alone, so a wrong header does
// no harm. When the adapter leaves the bus after carrying a request out, a lost answer ends in
// a failed read instead of a time-out.
Target boot(const char* name, const Flow& flow, const char* request, const std::string& log,
            bool leaves = false) {
    const Failure timedOut{kTimedOut, log}, gone{kGone, log};
    return {name, &flow, request, timedOut, leaves ? gone : timedOut, std::nullopt, gone};
}

// After the hand-over, transport failures are reworded and a clean-up EXIT is sent, which
// cannot reach an adapter that was pulled out.
Target config(const char* name, const Flow& flow, const char* request) {
    const Failure timedOut{kLost + kTimedOut, kExitDone, 1}, gone{kLost + kGone, kExitNotDone};
    return {name, &flow, request, timedOut, timedOut, Failure{kInvalid, kExitDone, 1}, gone};
}

std::vector<Target> targets() {
    const std::string invalidDump = "FAULT_DUMP returned an invalid application HID report.";
    const std::string presence = "FAULT_DUMP application HID after failure: expected_device=";
    const std::string uncertain =
        "STORE_CONFIG outcome is uncertain; the device may have stored settings and reset. "
        "Reconnect and inspect its configuration before trying again. Detail: ";
    const auto store = [&](const std::string& detail) {
        return Failure{uncertain + detail, "STORE_CONFIG outcome uncertain: " + detail};
    };
    const std::string exitInvalid = "EXIT returned an invalid application HID report.";
    return {
        boot("GetInfo", kLeave, "GET_INFO 1", "Velkora HID bootloader detected"),
        boot("GetAppInfo", kLeave, "GET_APP_INFO 1", "device serial=2050384E3436"),
        boot("GetStatus", kLeave, "GET_STATUS 1", "device serial=2050384E3436"),
        boot("StartApp", kStart, "START_APP 1", "app compatibility=0x03", true),
        boot("FaultLogStartAppUsb", kFaultLog, "START_APP_USB 1", "app compatibility=0x03", true),
        boot("ConfigStartAppUsb", kConfigExit, "START_APP_USB 1", "app compatibility=0x03", true),
        boot("StartUpdate", kUpdate, "START_UPDATE 1", "transfer start"),
        boot("BusyGetStatus", kBusyIdle, "GET_STATUS 2", "transfer start"),
        boot("BusyRetry", kBusyIdle, "START_UPDATE 2", "START_UPDATE recovery: state is IDLE"),
        boot("BusyAbort", kBusyError, "ABORT_UPDATE 1", "START_UPDATE recovery: ERROR with"),
        boot("BusyStatusAfterAbort", kBusyError, "GET_STATUS 3", "START_UPDATE recovery: ERROR"),
        boot("BusyRetryAfterAbort", kBusyError, "START_UPDATE 2",
             "START_UPDATE recovery: sending one retry after ABORT_UPDATE"),
        boot("DataChunk", kUpdate, "DATA_CHUNK 2", "transfer start"),
        boot("StatusAfterData", kUpdate, "GET_STATUS 2", "transfer start"),
        // The image is installed all the same: the update is not reported as complete.
        boot("EndUpdate", kUpdate, "END_UPDATE 1", "transfer start", true),
        // The acknowledgement lost, the first dump report answers the command.
        {"FaultDumpCommand", &kFaultLog, "FAULT_DUMP 1",
         Failure{kTimedOut, presence + "present management_interfaces=1", 1},
         Failure{"FAULT_DUMP returned an invalid initial response.", kExitDone, 1},
         Failure{invalidDump, kExitDone, 1},
         Failure{kGone, presence + "not_present management_interfaces=0"}},
        // Without its second report the dump's records are broken: nothing is shown or saved.
        {"FaultDumpReport", &kFaultLog, "FAULT_DUMP 1 report=2",
         Failure{"Fault log display failed: unsupported fault record format.", kExitDone, 1},
         Failure{invalidDump, kExitDone, 1}, Failure{invalidDump, kExitDone, 1},
         Failure{"Fault log download failed: the complete dump end marker was not received.",
                 kExitNotDone}},
        {"ClearFaults", &kClear, "CLEAR_FAULTS 1", Failure{kTimedOut, kSaved, 1, true},
         Failure{kTimedOut, kSaved, 1, true},
         Failure{"CLEAR_FAULTS returned an invalid application HID report.", kExitDone, 1, true},
         Failure{kGone, kExitNotDone, 0, true}},
        // A failed EXIT is never sent again; an answer lost after the adapter carried EXIT out
        // is a read of an adapter that has left.
        {"FaultLogExit", &kFaultLog, "EXIT 1", Failure{kTimedOut, kSaved, 1, true},
         Failure{kGone, kSaved, 1, true}, Failure{exitInvalid, kSaved, 1, true},
         Failure{kGone, kSaved, 1, true}},
        {"ConfigExit", &kConfigExit, "EXIT 1", Failure{kLost + kTimedOut, kVerified, 1},
         Failure{kLost + kGone, kVerified, 1}, Failure{exitInvalid, kVerified, 1},
         Failure{kLost + kGone, kVerified, 1}},
        config("ConfigGetInfo", kConfigExit, "APP_GET_INFO 1"),
        config("ConfigGetConfig", kConfigExit, "GET_CONFIG 1"),
        config("ConfigSetItem", kConfigChange, "SET_CONFIG_ITEM 1"),
        config("ConfigReadBack", kConfigChange, "GET_CONFIG 2"),
        config("ConfigReset", kConfigReset, "RESET_CONFIG 1"),
        // The adapter may have stored and restarted: nothing more is sent to it, no EXIT.
        {"ConfigStore", &kConfigStore, "STORE_CONFIG 1", store(kTimedOut), store(kGone),
         store(kInvalid), store(kGone)},
    };
}

// The scenario lines of a fault of the kind aimed at the target's request. Within a dump, a
// stale report is one of an earlier download.
std::string faultLines(const Target& t, int kind) {
    const std::size_t space = t.request.find(' ', t.request.find(' ') + 1);
    const std::string at = t.request.substr(0, space) + " = ";
    const std::string report = space == std::string::npos ? "" : t.request.substr(space);
    if (kind == StaleOnly && report.empty()) {
        return at + "stale 2\n" + at + "foreign 2\n" + at + "answer_lost";
    }
    return at + kFaults[kind].second + report;
}

SessionResult runFlow(const Flow& flow, const std::string& faults) {
    Session session{.scenarioName = "adapter.scn + three_faults.scn",
                    .scenario = scenarioText("adapter.scn") + "\n" +
                                scenarioText("three_faults.scn") + "\n" + flow.settings +
                                "\n[faults]\n" + faults + "\n",
                    .arguments = flow.arguments,
                    .package = 0x03};
    for (const std::string& line : flow.typed) {
        session.user.lines.push_back({0, line});
    }
    return runSession(session);
}

std::vector<std::string> dumps(const SessionResult& result) {
    auto saved = result.files | std::views::filter([](const auto& file) {
                     return file.first.starts_with("logs/fault_dump_");
                 }) |
                 std::views::values;
    return {saved.begin(), saved.end()};
}

void PrintTo(const Target& target, std::ostream* out) {
    *out << target.name;
}

using MatrixCase = std::tuple<Target, int>;
class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, EndsAsPrescribed) {
    const auto& [target, kind] = GetParam();
    const SessionResult result = runFlow(*target.flow, faultLines(target, kind));
    EXPECT_LT(result.virtualMs, 120000u) << "no hang";
    // The clean run ends as the user chose; a harmless fault leaves exactly its traces.
    const SessionResult clean = runFlow(*target.flow, "");
    EXPECT_EQ(clean.exitCodes, std::vector<int>{0});
    EXPECT_EQ(clean.logLines.back(), target.flow->lastLog);
    EXPECT_EQ(clean.exits, target.flow->exits);

    const Outcome outcomes[] = {target.lost,   target.stale, target.header,
                                target.header, std::nullopt, target.unplugged};
    const Outcome& failure = outcomes[kind];
    if (!failure) {
        EXPECT_EQ(result.exitCodes, clean.exitCodes);
        EXPECT_EQ(result.printed, clean.printed);
        EXPECT_EQ(result.logs, clean.logs);
        EXPECT_EQ(dumps(result), dumps(clean));
        EXPECT_EQ(result.exits, clean.exits);
        return;
    }
    // Configuration mode, chosen with 6, reports its failures under a heading of its own.
    const std::string heading =
        target.flow->typed.front() == "6" ? "Configuration failed." : "Update failed.";
    EXPECT_EQ(result.exitCodes, std::vector<int>{1});
    EXPECT_THAT(result.printed, ::testing::EndsWith("\n" + heading + "\n" + failure->message +
                                                    "\n\nPress Enter to close."));
    EXPECT_EQ(result.printed.find("Update complete."), std::string::npos);
    EXPECT_EQ(result.printed.find("Store accepted."), std::string::npos);
    EXPECT_THAT(result.logLines, ::testing::Contains(::testing::StartsWith(failure->log)));
    EXPECT_EQ(result.exits, failure->exits);
    // Only a fault log verified whole is saved, and exactly as rendered.
    EXPECT_EQ(dumps(result), failure->saved ? dumps(clean) : std::vector<std::string>{});
    EXPECT_EQ(result.printed.find("Total number of faults") != std::string::npos, failure->saved);
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(targets()),
                                            ::testing::Range(0, int{kKinds})),
                         [](const ::testing::TestParamInfo<MatrixCase>& row) {
                             return std::string(std::get<0>(row.param).name) + "_" +
                                    kFaults[std::get<1>(row.param)].first;
                         });

}  // namespace
}  // namespace velkora::testing
