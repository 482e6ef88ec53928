#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/entry_point.h"
#include "app/updater_run.h"
#include "tests/e2e/run_session.h"

namespace velkora::testing::run {
namespace {

// Every adapter of this file: its versions differ from each other, so that a field read from
// the wrong place shows.
const std::string kAdapter =
    "[bootloader]\n"
    "version = 1.3.0.0\n"
    "hardware_version = 2.1.0.0\n"
    "compatibility = 0x03\n";
const std::string kApplication =
    "[application]\n"
    "version = 1.4.0.12\n"
    "hwif = 1.0.0.0\n"
    "compatibility = 0x03\n";

// 102 bytes: two chunks of 51.
const FirmwarePackageProfile kPackage{0x03, "1.5.0.0", 102};
const FirmwarePackageProfile kOtherCompatibility{0x02, "1.5.0.0", 102};

std::string deviceShown(const std::string& serialLine, bool appValid = true) {
    return "Bootloader version: 1.3.0.0\n"
           "Device hardware version: 2.1.0.0\n" +
           serialLine +
           (appValid ? "Current application version: 1.4.0.12\n"
                       "Current application HWIF: 1.0.0.0\n"
                     : "Current application version: not installed or not valid\n") +
           "\n";
}
const std::string kSerialLine = "Serial Number: 2050384E34VKRA001\n";
const std::string kVersions = "Firmware update versions:\nFrom: 1.4.0.12\nTo:   1.5.0.0\n\n";
const std::string kProgress =
    "\rSending firmware:  50%\rSending firmware: 100%\rSending firmware: 100%\n";

std::vector<std::string> deviceLogged(const std::string& protocol, bool appValid,
                                      const std::vector<std::string>& then) {
    std::vector<std::string> lines{"boot protocol=" + protocol, "boot version=1.3.0.0",
                                   "boot hardware_version=2.1.0.0", "boot compatibility=0x03"};
    if (appValid) {
        lines.insert(lines.end(), {"app valid=yes", "app swver=1.4.0.12", "app hwif=1.0.0.0",
                                   "app compatibility=0x03"});
    } else {
        lines.push_back("app valid=no");
    }
    lines.insert(lines.end(), then.begin(), then.end());
    return lines;
}

std::string failed(const std::string& message) {
    return "\nUpdate failed.\n" + message + "\n" + kPressEnter;
}

const std::vector<std::string> kOpeningRequests{"GET_INFO 1", "GET_APP_INFO 2", "GET_STATUS 3"};

struct RunCase {
    const char* name;
    std::string bootloader = {};   // more [bootloader] fields
    std::string application = {};  // more [application] fields
    std::string rest = {};         // further sections
    // By default a package the adapter must refuse, so that a refusal of the adapter itself
    // shows that it came first.
    std::optional<FirmwarePackageProfile> package = kOtherCompatibility;
    std::vector<std::string> typed = {};
    int exitCode = 1;
    std::string console;           // printed after "Reading device information..."
    std::vector<std::string> log;  // written after the "device serial=" line
    std::vector<std::string> sent = kOpeningRequests;  // requestSummary
};

void PrintTo(const RunCase& row, std::ostream* out) {
    *out << row.name;
}

class RunDeviceChecks : public ::testing::TestWithParam<RunCase> {};

// One whole run per row, from the device information to the end of the process: what the
// user reads, what the run log keeps and what the adapter was asked.
TEST_P(RunDeviceChecks, ShowsLogsAndEndsAsTheAdapterRequires) {
    const RunCase& row = GetParam();
    UserScript user;
    for (const std::string& line : row.typed) {
        user.lines.push_back({0, line});
    }
    const TranscriptResult result = runSession(
        kAdapter + row.bootloader + kApplication + row.application + row.rest, user, row.package);

    EXPECT_EQ(result.exitCode, row.exitCode);
    EXPECT_EQ(visible(printedAfter(result, "Reading device information...\n")),
              visible(row.console));
    EXPECT_THAT(linesAfter(onlyLog(result), "device serial="),
                ::testing::ElementsAreArray(row.log));
    EXPECT_THAT(requestSummary(result), ::testing::ElementsAreArray(row.sent));
    EXPECT_EQ(result.openConnections, 0u);
    EXPECT_EQ(result.linesNotRead, 0u);
}

const std::string kUnsupportedProtocol = failed("Unsupported Velkora HID bootloader protocol.");

INSTANTIATE_TEST_SUITE_P(
    Table, RunDeviceChecks,
    ::testing::Values(
        // The package is refused before the menu, so neither the fault log nor the
        // configuration can be reached with it in place.
        RunCase{.name = "CompatibilityDiffers",
                .console = deviceShown(kSerialLine) +
                           failed("This update firmware is not compatible with the connected "
                                  "Velkora. Device compatibility 0x03, firmware compatibility "
                                  "0x02."),
                .log = deviceLogged("1.2", true, {})},
        // Each protocol value out of range is shown and logged in full first, and is refused
        // before the package's compatibility is looked at.
        RunCase{.name = "ProtocolMajorTwo",
                .bootloader = "protocol = 2.2\n",
                .console = deviceShown(kSerialLine) + kUnsupportedProtocol,
                .log = deviceLogged("2.2", true, {})},
        RunCase{.name = "ProtocolMinorZero",
                .bootloader = "protocol = 1.0\n",
                .console = deviceShown("") + kUnsupportedProtocol,
                .log = deviceLogged("1.0", true, {})},
        RunCase{.name = "ReportLength65",
                .bootloader = "report_length = 0x41\n",
                .console = deviceShown(kSerialLine) + kUnsupportedProtocol,
                .log = deviceLogged("1.2", true, {})},
        RunCase{.name = "PayloadCapacity55",
                .bootloader = "payload_capacity = 0x37\n",
                .console = deviceShown(kSerialLine) + kUnsupportedProtocol,
                .log = deviceLogged("1.2", true, {})},
        // A bootloader of protocol 1.1 reports no device ID: no serial-number line at all.
        // Leaving the adapter in its bootloader ends the process without a key press.
        RunCase{
            .name = "MinorOneHasNoSerialLineAndIsLeftInBootloader",
            .bootloader = "protocol = 1.1\n",
            .package = kPackage,
            .typed = {"4"},
            .exitCode = 0,
            .console = deviceShown("") + kVersions + kMenuOfSix +
                       "Leaving the Velkora in bootloader mode.\n",
            .log = deviceLogged("1.1", true, {"user exited and left Velkora in bootloader mode"})},
        // DEL (0x7F) is just outside the printable range. Without a package, choice 1 only
        // says so and the menu comes back; START_APP then still carries sequence 4, and the
        // process ends without a key press.
        RunCase{.name = "NonPrintableSerialAndNoPackage",
                .bootloader = "device_id = 20 50 38 4E 34 56 4B 52 41 30 30 7F\n",
                .package = std::nullopt,
                .typed = {"1", "3"},
                .exitCode = 0,
                .console = deviceShown("Serial Number: not available\n") + kMenuOfSix +
                           "Firmware update is unavailable because no update firmware was "
                           "found.\n\n" +
                           kMenuOfSix + "Starting device...\n",
                .log = deviceLogged("1.2", true,
                                    {"START_APP succeeded after user selected Start device"}),
                .sent = {"GET_INFO 1", "GET_APP_INFO 2", "GET_STATUS 3", "START_APP 4"}},
        // Without a package and without a valid application nothing happens by itself: five
        // choices, 6 is refused, and START_APP is refused by the adapter.
        RunCase{.name = "NoPackageAndNoApplication",
                .application = "valid = no\n",
                .package = std::nullopt,
                .typed = {"6", "3"},
                .console = deviceShown(kSerialLine, false) + kMenuOfFive +
                           "Please select 1 through 5.\n\n" + kMenuOfFive + "Starting device...\n" +
                           failed("START_APP failed: NOT_ACTIVE"),
                .log = deviceLogged("1.2", false, {}),
                .sent = {"GET_INFO 1", "GET_APP_INFO 2", "GET_STATUS 3", "START_APP 4"}},
        // The END_UPDATE line is in the log before its status is judged, and a rejected image
        // is never logged as a completed transfer.
        RunCase{.name = "EndUpdateRejected",
                .rest = "[faults]\nEND_UPDATE 1 = status COMPAT_MISMATCH\n",
                .package = kPackage,
                .typed = {"1"},
                .console = deviceShown(kSerialLine) + kVersions + kMenuOfSix + kProgress +
                           failed("Firmware rejected by device: incompatible update firmware. "
                                  "Device compatibility 0x03, firmware compatibility 0x03."),
                .log = deviceLogged("1.2", true,
                                    {"transfer start",
                                     "Sending firmware END_UPDATE status=COMPAT_MISMATCH "
                                     "bytes=0"}),
                .sent = {"GET_INFO 1", "GET_APP_INFO 2", "GET_STATUS 3", "START_UPDATE 4",
                         "DATA_CHUNK 5-6", "GET_STATUS 7", "END_UPDATE 8"}}),
    [](const ::testing::TestParamInfo<RunCase>& row) { return row.param.name; });

struct DurationCase {
    std::uint32_t endUpdateMs;
    std::uint64_t transferMs;  // from the menu choice to the END_UPDATE answer
    const char* logged;
};

class RunTransferDuration : public ::testing::TestWithParam<DurationCase> {};

// The run logs the transfer's whole seconds, rounded down, and the image's size. START_UPDATE,
// 30 ms, two chunks with 1 ms after each, GET_STATUS and 30 ms make 62 ms before END_UPDATE,
// which takes as long as the adapter's installation.
TEST_P(RunTransferDuration, IsLoggedInWholeSecondsRoundedDown) {
    const TranscriptResult result =
        runSession(kAdapter + kApplication +
                       "[timing]\nend_update_ms = " + std::to_string(GetParam().endUpdateMs) + "\n",
                   {{{0, "1"}, {0, ""}}, {}}, kPackage);
    EXPECT_EQ(result.virtualMs - lastRequestMs(result, "START_UPDATE"), GetParam().transferMs);
    EXPECT_THAT(
        linesAfter(onlyLog(result), "transfer start"),
        ::testing::ElementsAre("Sending firmware END_UPDATE status=OK bytes=102", GetParam().logged,
                               "user closed updater after update complete"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunTransferDuration,
    ::testing::Values(DurationCase{938, 1000, "transfer complete seconds=1 bytes=102"},
                      DurationCase{1838, 1900, "transfer complete seconds=1 bytes=102"},
                      DurationCase{1938, 2000, "transfer complete seconds=2 bytes=102"}),
    [](const ::testing::TestParamInfo<DurationCase>& row) {
        return std::to_string(row.param.transferMs) + "ms";
    });

// Menu choice 5 ends the run and starts a new one in the same process: a new banner, a new
// package check and device wait, a new run log, and the single-instance guard held by the
// entry point throughout, not claimed again.
TEST(RunRestart, StartsAFreshRunWithANewLogUnderTheSameGuard) {
    std::vector<int> claimsAtEachRun;
    const SessionBody body = [&](platform::Services& services, const std::vector<std::string>&) {
        auto& host = dynamic_cast<FakeHost&>(services.host);
        const int exitCode =
            runEntryPoint(services, {platform::fromUtf8("velkora-updater")}, [&](bool serviceMode) {
                claimsAtEachRun.push_back(host.claimsHeld);
                runUpdater(services, serviceMode);
            });
        claimsAtEachRun.push_back(host.claimsHeld);
        return exitCode;
    };
    const TranscriptResult result =
        runSession(kAdapter + kApplication, {{{0, "5"}, {0, "4"}}, {}}, kPackage, {}, body);

    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(claimsAtEachRun, (std::vector<int>{1, 1, 0}))
        << "one claim during both runs, released at the end";
    EXPECT_THAT(printedAfter(result, "Selection: "),
                ::testing::StartsWith("Restarting updater...\n\nVelkora Firmware Updater\n"));
    ASSERT_EQ(result.logs.size(), 2u);
    EXPECT_EQ(result.logs.begin()->second.back(), "user selected Restart updater");
    EXPECT_EQ(std::next(result.logs.begin())->second.back(),
              "user exited and left Velkora in bootloader mode");
    EXPECT_EQ(std::next(result.logs.begin())->second.front(), "Velkora Firmware Updater 2.0.0.0");
    EXPECT_THAT(requestSummary(result),
                ::testing::ElementsAre("GET_INFO 1", "GET_APP_INFO 2", "GET_STATUS 3", "GET_INFO 1",
                                       "GET_APP_INFO 2", "GET_STATUS 3"));
    EXPECT_EQ(result.openConnections, 0u);
}

}  // namespace
}  // namespace velkora::testing::run
