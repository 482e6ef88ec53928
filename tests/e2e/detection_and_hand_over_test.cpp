#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/run_session.h"

namespace velkora::testing::run {
namespace {

using ::testing::ElementsAreArray;
using ::testing::EndsWith;

const FirmwarePackageProfile kPackage{0x01, "1.5.0.0", 102};
const std::string kLateAdapter = "[timing]\nplug_in_ms = 16000\n";
const std::string kCancelled = "\nUpdate cancelled.\n" + kPressEnter;
const std::string kTwoBootloaders =
    "\nUpdate failed.\nMore than one Velkora bootloader was found. Unplug all but one Velkora "
    "and try again.\n" +
    kPressEnter;

constexpr int kEsc = 27;

struct WaitCase {
    const char* name;
    std::string scenario;
    bool withPackage;
    std::vector<sim::KeyPress> keys;
    int exitCode;
    std::string console;  // printed after "Waiting for Velkora...", exactly or at its start
    bool wholeConsole;
    std::vector<std::string> log;  // the run log from the wait on, or its first lines
    std::uint64_t waitEndedMs;     // when the first request went out, or the session ended
};

void PrintTo(const WaitCase& row, std::ostream* out) {
    *out << row.name;
}

class RunBootloaderWait : public ::testing::TestWithParam<WaitCase> {};

// The wait for exactly one adapter in its bootloader identity, through the whole program: what
// ends it, when, what the user reads and what the run log keeps.
TEST_P(RunBootloaderWait, EndsOnlyForOneBootloaderTwoOrACancelKey) {
    const WaitCase& row = GetParam();
    const TranscriptResult result =
        runSession(row.scenario, {{{0, "4"}}, row.keys},
                   row.withPackage ? std::optional(kPackage) : std::nullopt);

    EXPECT_EQ(result.exitCode, row.exitCode);
    const std::string console = printedAfter(result, kWaitText);
    if (row.wholeConsole) {
        EXPECT_EQ(visible(console), visible(row.console));
    } else {
        EXPECT_THAT(visible(console), ::testing::StartsWith(visible(row.console)));
    }
    std::vector<std::string> log = afterPackageCheck(onlyLog(result));
    if (!row.wholeConsole) {
        log.resize(std::min(log.size(), row.log.size()));
    }
    EXPECT_THAT(log, ElementsAreArray(row.log));
    EXPECT_EQ(
        result.requests.empty() ? result.virtualMs : result.requests.front().at / sim::kMicrosPerMs,
        row.waitEndedMs);
    EXPECT_EQ(result.openConnections, 0u);
}

// Cancelling while no update firmware was found ends the process silently; with firmware, the
// user is told and the window waits for Enter.
WaitCase cancelCase(const char* name, int key, bool withPackage) {
    return {name,        kLateAdapter,
            withPackage, {{3000, key}},
            0,           withPackage ? kCancelled : "",
            true,        {"wait for Velkora cancelled by user"},
            3000};
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunBootloaderWait,
    ::testing::Values(
        cancelCase("LowerQWithoutPackageIsQuiet", 'q', false),
        cancelCase("UpperQWithoutPackageIsQuiet", 'Q', false),
        cancelCase("EscWithoutPackageIsQuiet", kEsc, false),
        cancelCase("LowerQWithPackage", 'q', true), cancelCase("UpperQWithPackage", 'Q', true),
        cancelCase("EscWithPackage", kEsc, true),
        // Page Down arrives as 224 and 'Q', Alt+F10 as 0 and 'q': both are swallowed whole,
        // as is any other key, and only the Esc at 6 s cancels.
        WaitCase{"ExtendedKeysAreSwallowedWhole",
                 kLateAdapter,
                 true,
                 {{1000, 224}, {1000, 'Q'}, {2000, 0}, {2000, 'q'}, {3000, 'x'}, {6000, kEsc}},
                 0,
                 kCancelled,
                 true,
                 {"wait for Velkora cancelled by user"},
                 6000},
        // A running application is no bootloader: the wait notes it once and goes on.
        WaitCase{"OnlyAManagementInterfaceKeepsWaiting",
                 "[adapter]\nidentity = application\n",
                 true,
                 {{5000, 'q'}},
                 0,
                 kCancelled,
                 true,
                 {"application HID present; waiting for bootloader HID",
                  "wait for Velkora cancelled by user"},
                 5000},
        WaitCase{"ABootloaderBesideAManagementInterfaceIsTakenAtOnce",
                 "[bus]\nextra = management serial=2050384E9999\n",
                 false,
                 {},
                 0,
                 kFoundText + "\nReading device information...\n",
                 false,
                 {"application HID present; waiting for bootloader HID",
                  "Velkora HID bootloader detected",
                  "GET_INFO succeeded; firmware update mode "
                  "committed"},
                 0},
        // An interface whose strings cannot be read may still be an adapter.
        WaitCase{"AnUnreadableInterfaceCountsAsASecondBootloader",
                 "[bus]\nextra = unreadable\n",
                 true,
                 {},
                 1,
                 kTwoBootloaders,
                 true,
                 {"multiple Velkora bootloaders found: 2"},
                 0}),
    [](const ::testing::TestParamInfo<WaitCase>& row) { return row.param.name; });

struct HandOverCase {
    const char* name;
    std::string scenario;
    const char* choice;  // 2 (fault log) or 6 (configuration)
    int exitCode;
    std::string consoleEnd;
    bool found;  // whether the first run found the management interface
    const char* lastLogLine;
    std::optional<std::uint64_t> waitMs;  // from START_APP_USB to the end of the session
};

void PrintTo(const HandOverCase& row, std::ostream* out) {
    *out << row.name;
}

class RunHandOverWait : public ::testing::TestWithParam<HandOverCase> {};

// The hand-over to the application from the menu: which management interface the wait takes,
// which it refuses and how long it waits. START_APP_USB goes out at 60 ms; the adapter's own
// management interface appears 820 ms later, and the wait looks every 100 ms.
TEST_P(RunHandOverWait, TakesOnlyTheAdaptersOwnInterface) {
    const HandOverCase& row = GetParam();
    const TranscriptResult result =
        runSession(row.scenario, {{{0, row.choice}, {0, "4"}}, {}}, std::nullopt);

    EXPECT_EQ(result.exitCode, row.exitCode);
    EXPECT_THAT(visible(result.printed), EndsWith(visible(row.consoleEnd)));
    ASSERT_FALSE(result.logs.empty());
    const std::vector<std::string>& firstRun = result.logs.begin()->second;
    EXPECT_EQ(std::count(firstRun.begin(), firstRun.end(), "Velkora management interface detected"),
              row.found ? 1 : 0);
    EXPECT_EQ(firstRun.back(), row.lastLogLine);
    if (row.waitMs) {
        EXPECT_EQ(result.virtualMs - lastRequestMs(result, "START_APP_USB"), *row.waitMs);
    }
    EXPECT_EQ(result.openConnections, 0u);
}

const std::string kTwoInterfaces =
    "\nUpdate failed.\nMore than one Velkora management interface was found. Unplug all but one "
    "Velkora and try again.\n" +
    kPressEnter;

INSTANTIATE_TEST_SUITE_P(
    Table, RunHandOverWait,
    ::testing::Values(
        // An adapter without a serial number: its management interface is taken all the same.
        HandOverCase{"EmptySerial", "[adapter]\nserial = \"\"\n", "2", 0,
                     "Leaving the Velkora in bootloader mode.\n", true,
                     "fault-log operation complete; restarting adapter detection", std::nullopt},
        // Without a serial to compare, any management interface matches: a second one is
        // refused even though it belongs to another adapter. It appears at 900 ms, so both
        // are there when the wait looks at 960 ms.
        HandOverCase{"EmptySerialAndAForeignInterface",
                     "[adapter]\nserial = \"\"\n"
                     "[bus]\nextra = management serial=2050384E9999 appear_ms=900\n",
                     "2", 1, kTwoInterfaces, false,
                     "START_APP_USB succeeded; waiting for application HID", 900},
        HandOverCase{"AForeignSerialIsPassedOver",
                     "[bus]\nextra = management serial=2050384E9999\n", "2", 0,
                     "Leaving the Velkora in bootloader mode.\n", true,
                     "fault-log operation complete; restarting adapter detection", std::nullopt},
        HandOverCase{"TwoInterfacesWithTheSameSerial",
                     "[bus]\nextra = management serial=2050384E3436 appear_ms=900\n", "2", 1,
                     kTwoInterfaces, false, "START_APP_USB succeeded; waiting for application HID",
                     900},
        // The adapter's own interface would come after 20 s; only a foreign one is there, and
        // the wait gives up after 15 s.
        HandOverCase{"OnlyAForeignSerialTimesOut",
                     "[timing]\napp_enumeration_ms = 20000\n"
                     "[bus]\nextra = management serial=2050384E9999\n",
                     "6", 1,
                     "\nConfiguration failed.\nTimed out waiting for the Velkora management "
                     "interface.\n" +
                         kPressEnter,
                     false, "START_APP_USB succeeded for configuration", 15000}),
    [](const ::testing::TestParamInfo<HandOverCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::testing::run
