#include <stdexcept>

#include "management/fault_dump_download.h"
#include "management/fault_dump_markers.h"
#include "tests/support/scripted_connection_fixture.h"

namespace velkora {
namespace {

using testing::Report;
using testing::responseReport;

constexpr std::uint8_t kFaultDump = 0x80;
constexpr const char* kNotReceived =
    "Fault log download failed: the complete dump end marker was not received.";

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// A dump report whose payload-length byte says `declared` while `payload` is what it carries.
Report rawDumpReport(std::uint8_t sequence, std::uint8_t declared,
                     const std::vector<std::uint8_t>& payload) {
    Report report = responseReport(kFaultDump, sequence, 0, {});
    report[8] = declared;
    std::copy_n(payload.begin(), std::min<std::size_t>(payload.size(), 56), report.begin() + 9);
    return report;
}

// The same report as a read without report ID returns it, cut to `length` bytes.
Report withoutReportId(Report report, std::size_t length = 64) {
    report.erase(report.begin());
    report.resize(length);
    return report;
}

class FaultDumpDownload : public testing::ScriptedConnectionFixture {
  protected:
    // The answer to FAULT_DUMP: the initial response at once, then `reports` dump reports,
    // each `paceMs` after the one before.
    testing::ScriptedHidPort::Reaction& acceptDump(std::uint8_t sequence = 1) {
        return port.onRequest().reply(responseReport(kFaultDump, sequence));
    }

    void streamText(testing::ScriptedHidPort::Reaction& reaction, const std::string& text,
                    std::size_t chunk, std::uint32_t paceMs, std::uint8_t sequence = 1) {
        std::uint32_t at = 0;
        for (std::size_t offset = 0; offset < text.size(); offset += chunk) {
            at += paceMs;
            reaction.reply(responseReport(kFaultDump, sequence, 0,
                                          bytesOf(std::string_view(text).substr(offset, chunk))),
                           at);
        }
    }

    std::string download(std::uint8_t sequence = 1) {
        counter = sequence;
        return downloadFaultDump(services, handle, counter, expected, log);
    }

    std::string failure() {
        try {
            download();
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "(no failure)";
    }

    std::uint8_t counter = 1;
    HidDeviceInfo expected{platform::fromUtf8("mgmt-1"), "Velkora", "Velkora Management Interface",
                           "VK0042"};
};

const std::string kMarker(kFaultDumpEndMarker);

TEST_F(FaultDumpDownload, EndsWithTheReportThatCompletesTheMarkerKeepingTrailingBytes) {
    auto& reaction = acceptDump();
    const std::string text = "abc" + kMarker + "xyz";
    reaction.reply(responseReport(kFaultDump, 1, 0, bytesOf(text)), 2);
    reaction.reply(responseReport(kFaultDump, 1, 0, bytesOf("never read")), 4);
    EXPECT_EQ(download(), text);
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{
                  "FAULT_DUMP sending command sequence=1", "FAULT_DUMP accepted sequence=1",
                  "FAULT_DUMP report=1 payload_bytes=39 total_bytes=39 elapsed_ms=2 gap_ms=2 "
                  "end_marker=yes",
                  "FAULT_DUMP complete reports=1 bytes=39 elapsed_ms=2"}));
    EXPECT_EQ(counter, 2);
}

TEST_F(FaultDumpDownload, FindsAMarkerSplitAcrossReports) {
    auto& reaction = acceptDump();
    reaction.reply(responseReport(kFaultDump, 1, 0, bytesOf(kMarker.substr(0, 20))), 3);
    reaction.reply(responseReport(kFaultDump, 1, 0, bytesOf(kMarker.substr(20))), 10);
    EXPECT_EQ(download(), kMarker);
    const auto lines = logLines();
    EXPECT_EQ(lines[2],
              "FAULT_DUMP report=1 payload_bytes=20 total_bytes=20 elapsed_ms=3 gap_ms=3 "
              "end_marker=no");
    EXPECT_EQ(lines[3],
              "FAULT_DUMP report=2 payload_bytes=13 total_bytes=33 elapsed_ms=10 gap_ms=7 "
              "end_marker=yes");
}

TEST_F(FaultDumpDownload, AcceptsExactlySixtyFourKibibytes) {
    const std::string text = std::string(65536 - kMarker.size(), 'a') + kMarker;
    streamText(acceptDump(), text, 56, 1);
    EXPECT_EQ(download().size(), 65536u);
    EXPECT_EQ(logLines().back(), "FAULT_DUMP complete reports=1171 bytes=65536 elapsed_ms=1171");
}

TEST_F(FaultDumpDownload, RefusesOneByteMoreEvenWhenItCompletesTheMarker) {
    const std::string text = std::string(65537 - kMarker.size(), 'a') + kMarker;
    streamText(acceptDump(), text, 56, 1);
    EXPECT_EQ(failure(), "Fault log download failed: the dump is too large.");
    EXPECT_EQ(logLines().back(),
              "FAULT_DUMP failed reason=size_limit reports=1171 bytes=65537 elapsed_ms=1171");
}

struct PayloadCase {
    const char* name;
    Report report;
    std::string error;
    std::string logLine;
};

class DumpReportPayload : public FaultDumpDownload,
                          public ::testing::WithParamInterface<PayloadCase> {};

TEST_P(DumpReportPayload, MustHoldOneToFiftySixBytesThatWereReceived) {
    auto& reaction = acceptDump();
    reaction.reply(GetParam().report, 5);
    reaction.reply(responseReport(kFaultDump, 1, 0, bytesOf(kMarker)), 6);
    if (GetParam().error.empty()) {
        EXPECT_NO_THROW(download());
    } else {
        EXPECT_EQ(failure(), GetParam().error);
    }
    EXPECT_EQ(logLines()[2], GetParam().logLine);
}

const std::vector<std::uint8_t> kFull(56, 'f');

INSTANTIATE_TEST_SUITE_P(
    Reports, DumpReportPayload,
    ::testing::Values(
        PayloadCase{"FiftySixWithReportId", rawDumpReport(1, 56, kFull), "",
                    "FAULT_DUMP report=1 payload_bytes=56 total_bytes=56 elapsed_ms=5 gap_ms=5 "
                    "end_marker=no"},
        PayloadCase{"FiftySixWithoutReportId", withoutReportId(rawDumpReport(1, 56, kFull)), "",
                    "FAULT_DUMP report=1 payload_bytes=56 total_bytes=56 elapsed_ms=5 gap_ms=5 "
                    "end_marker=no"},
        PayloadCase{"FiftySeven", rawDumpReport(1, 57, kFull),
                    "Fault log download failed: received an invalid dump report.",
                    "FAULT_DUMP invalid payload report=1 hid_bytes=65 payload_bytes=57 "
                    "elapsed_ms=5 gap_ms=5"},
        PayloadCase{"Empty", rawDumpReport(1, 0, {}),
                    "Fault log download failed: received an invalid dump report.",
                    "FAULT_DUMP invalid payload report=1 hid_bytes=65 payload_bytes=0 "
                    "elapsed_ms=5 gap_ms=5"},
        PayloadCase{"LongerThanReceived", withoutReportId(rawDumpReport(1, 13, kFull), 20),
                    "Fault log download failed: received an invalid dump report.",
                    "FAULT_DUMP invalid payload report=1 hid_bytes=20 payload_bytes=13 "
                    "elapsed_ms=5 gap_ms=5"},
        PayloadCase{"StaleSequence", responseReport(kFaultDump, 0, 0, bytesOf("old")),
                    "FAULT_DUMP returned an invalid application HID report.",
                    "FAULT_DUMP invalid report=1 hid_bytes=65 elapsed_ms=5 gap_ms=5 "
                    "error=FAULT_DUMP returned an invalid application HID report."},
        PayloadCase{"FailedStatus", responseReport(kFaultDump, 1, 6, {}),
                    "FAULT_DUMP failed: FAILED",
                    "FAULT_DUMP invalid report=1 hid_bytes=65 elapsed_ms=5 gap_ms=5 "
                    "error=FAULT_DUMP failed: FAILED"}),
    [](const ::testing::TestParamInfo<PayloadCase>& row) { return row.param.name; });

TEST_F(FaultDumpDownload, SilenceAfterAcceptanceFailsAfterFiveSecondsNotThirty) {
    acceptDump();
    const std::uint64_t start = clock.tickCount64();
    EXPECT_EQ(failure(), kNotReceived);
    EXPECT_EQ(clock.tickCount64() - start, 5000u);
    const auto lines = logLines();
    EXPECT_EQ(lines[2],
              "FAULT_DUMP read failed reports=0 bytes=0 elapsed_ms=5000 last_report_age_ms=5000 "
              "error=Timed out reading HID response.");
    EXPECT_EQ(lines[3],
              "FAULT_DUMP application HID after failure: expected_device=not_present "
              "management_interfaces=0");
}

TEST_F(FaultDumpDownload, TheLastReadWaitsOnlyForTheTimeLeft) {
    auto& reaction = acceptDump();
    for (std::uint32_t at = 4000; at <= 28000; at += 4000) {
        reaction.reply(responseReport(kFaultDump, 1, 0, bytesOf("x")), at);
    }
    EXPECT_EQ(failure(), kNotReceived);
    EXPECT_EQ(logLines()[9],
              "FAULT_DUMP read failed reports=7 bytes=7 elapsed_ms=30000 last_report_age_ms=2000 "
              "error=Timed out reading HID response.");
}

TEST_F(FaultDumpDownload, ReportsWithoutTheMarkerEndAtTheOverallDeadline) {
    streamText(acceptDump(), std::string(400, 'x'), 1, 100);
    EXPECT_EQ(failure(), kNotReceived);
    const auto lines = logLines();
    EXPECT_EQ(lines[lines.size() - 2],
              "FAULT_DUMP failed reason=overall_timeout reports=300 bytes=300 elapsed_ms=30000 "
              "last_report_age_ms=0");
}

TEST_F(FaultDumpDownload, TheSequenceWrapsAfter255) {
    auto& reaction = acceptDump(255);
    reaction.reply(responseReport(kFaultDump, 255, 0, bytesOf(kMarker)), 1);
    download(255);
    EXPECT_EQ(counter, 0);
    EXPECT_EQ(logLines()[0], "FAULT_DUMP sending command sequence=255");
}

TEST_F(FaultDumpDownload, InitialFailuresAreLoggedWithThePresenceCheck) {
    port.onRequest().reply(responseReport(kFaultDump, 1, 6));
    port.devices = {expected};
    port.devices[0].path = platform::fromUtf8("mgmt-2");  // same serial, new path
    EXPECT_EQ(failure(), "FAULT_DUMP failed: FAILED");
    EXPECT_EQ(logLines(),
              (std::vector<std::string>{
                  "FAULT_DUMP sending command sequence=1",
                  "FAULT_DUMP initial response failed sequence=1 error=FAULT_DUMP failed: FAILED",
                  "FAULT_DUMP application HID after failure: expected_device=present "
                  "management_interfaces=1"}));
}

TEST_F(FaultDumpDownload, AnInitialResponseWithPayloadIsRefusedWithoutPresenceCheck) {
    port.onRequest().reply(responseReport(kFaultDump, 1, 0, bytesOf("x")));
    EXPECT_EQ(failure(), "FAULT_DUMP returned an invalid initial response.");
    EXPECT_EQ(logLines().back(), "FAULT_DUMP initial response had nonzero payload length=1");
}

TEST_F(FaultDumpDownload, WithoutSerialThePresenceCheckMatchesByPathOnly) {
    expected.serial.clear();
    HidDeviceInfo other = expected;
    other.path = platform::fromUtf8("mgmt-2");
    port.devices = {other};
    EXPECT_EQ(failure(), "Timed out reading HID response.");
    EXPECT_EQ(logLines().back(),
              "FAULT_DUMP application HID after failure: expected_device=not_present "
              "management_interfaces=1");
}

// A bus whose listing fails: the presence check logs that and changes nothing else.
class FailingListingPort : public testing::ScriptedHidPort {
  public:
    using ScriptedHidPort::ScriptedHidPort;
    std::vector<platform::HidDeviceInfo> enumerate() override {
        throw std::runtime_error("SetupDiGetClassDevs failed.");
    }
};

TEST(FaultDumpPresence, AFailingListingIsLoggedAndSwallowed) {
    testing::TempFolder folder;
    testing::FakeServices fake(folder.path());
    FailingListingPort port(fake.clock);
    platform::Services services{fake.clock, port, fake.keys, fake.host, std::cin, std::cout};
    RunLog log = openRunLog(folder.path(), fake.clock);
    HidHandle handle = openHidDevice(services, platform::fromUtf8("mgmt-1"));
    std::uint8_t counter = 1;
    EXPECT_THROW(downloadFaultDump(services, handle, counter, HidDeviceInfo{}, log),
                 std::runtime_error);
    EXPECT_EQ(testing::readLogLines(log.path()).back(),
              "FAULT_DUMP application HID presence check failed: SetupDiGetClassDevs failed.");
}

}  // namespace
}  // namespace velkora
