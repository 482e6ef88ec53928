#include <gtest/gtest.h>

#include "management/fault_catalogue.h"
#include "management/fault_dump_download.h"
#include "management/fault_dump_markers.h"
#include "management/fault_dump_parser.h"
#include "management/fault_log_text.h"
#include "management/management_commands.h"
#include "tests/support/bench.h"

namespace velkora {
namespace {

using testing::Report;
const std::string kBegin(kFaultDumpBeginMarker), kEnd(kFaultDumpEndMarker);
using Arrivals = std::vector<testing::ScriptedHidPort::Arrival>;

HidDeviceInfo device(const std::string& path, const std::string& serial) {
    return {platform::fromUtf8(path), "Velkora", std::string(kManagementInterfaceProduct), serial};
}

// A report of the download with sequence 255: the text, the length byte `declared` (the text's
// length by default), the whole report or cut to `size` bytes without the report ID.
Report dump(const std::string& text, int declared = -1, std::size_t size = 65) {
    Report report = testing::responseReport(0x80, 255, 0, {});
    report[8] = std::uint8_t(declared < 0 ? text.size() : std::size_t(declared));
    std::copy(text.begin(), text.end(), report.begin() + 9);
    if (size < 65) {
        report.erase(report.begin());
        report.resize(size);
    }
    return report;
}

// The text in reports of at most `chunk` bytes, `paceMs` apart.
Arrivals stream(const std::string& text, std::size_t chunk, std::uint32_t paceMs) {
    Arrivals reports;
    for (std::size_t at = 0; at < text.size(); at += chunk) {
        reports.push_back(
            {paceMs * std::uint32_t(reports.size() + 1), dump(text.substr(at, chunk))});
    }
    return reports;
}

// Each row: the reports that follow the acknowledgement (a report at 0 ms replaces it), and
// the end of the run log followed by the dump or the failure. The counter starts at 255, on a
// handle whose queue overflowed before the request, which has no bearing on this dump.
TEST(FaultDumpDownload, EndsAtTheMarkerWithinTheLimits) {
    const std::string f56(56, 'f'), f12(12, 'f'), x23(23, 'x'), big(65536 - 33, 'a');
    const std::string hid = "FAULT_DUMP returned an invalid application HID report.";
    const std::string invalid = "\nFault log download failed: received an invalid dump report.";
    const std::string present =
        "\nFAULT_DUMP application HID after failure: expected_device=present "
        "management_interfaces=1\n";
    const std::string lost =
        present + "Fault log download failed: the complete dump end marker was not received.";
    const std::vector<std::pair<Arrivals, std::string>> rows{
        {{{3, dump(x23 + kEnd.substr(0, 32))},
          {10, dump(kEnd.substr(32) + "tail")},
          {11, dump("x")}},
         "FAULT_DUMP accepted sequence=255\nFAULT_DUMP report=1 payload_bytes=55 total_bytes=55 "
         "elapsed_ms=3 gap_ms=3 end_marker=no\n"
         "FAULT_DUMP report=2 payload_bytes=5 total_bytes=60 elapsed_ms=10 gap_ms=7 "
         "end_marker=yes\n"
         "FAULT_DUMP complete reports=2 bytes=60 elapsed_ms=10\n" +
             x23 + kEnd + "tail"},
        {stream(big + kEnd, 56, 1),
         "complete reports=1171 bytes=65536 elapsed_ms=1171\n" + big + kEnd},
        {stream("a" + big + kEnd, 56, 1),
         "FAULT_DUMP failed reason=size_limit reports=1171 bytes=65537 elapsed_ms=1171\nFault log "
         "download failed: the dump is too large."},
        {{{5, dump(std::string(33, 'f'))}, {6, dump(kEnd)}}, "\n" + std::string(33, 'f') + kEnd},
        {{{5, dump(kEnd)}}, "complete reports=1 bytes=33 elapsed_ms=5\n" + kEnd},
        {{{5, dump(f12, 12, 20)}, {6, dump(kEnd)}}, "\n" + f12 + kEnd},
        {{{5, dump(f56, 57)}},
         "FAULT_DUMP invalid payload report=1 hid_bytes=65 payload_bytes=57 elapsed_ms=5 gap_ms=5" +
             invalid},
        {{{5, dump("")}}, "hid_bytes=65 payload_bytes=0 elapsed_ms=5 gap_ms=5" + invalid},
        {{{5, dump(f12, 13, 20)}}, "hid_bytes=20 payload_bytes=13 elapsed_ms=5 gap_ms=5" + invalid},
        {{{5, dump("x", 1, 8)}}, "hid_bytes=8 payload_bytes=1 elapsed_ms=5 gap_ms=5" + invalid},
        {{{5, testing::responseReport(0x80, 254, 0, Report{1})}},
         "FAULT_DUMP invalid report=1 hid_bytes=65 elapsed_ms=5 gap_ms=5 error=" + hid + "\n" +
             hid},
        {{},
         "FAULT_DUMP read failed reports=0 bytes=0 elapsed_ms=5000 last_report_age_ms=5000 "
         "error=Timed out reading HID response." +
             lost},
        {stream("xxxxxxx", 1, 4000),
         "reports=7 bytes=7 elapsed_ms=30000 last_report_age_ms=2000 error=Timed out reading HID "
         "response." +
             lost},
        {stream(std::string(400, 'x'), 1, 100),
         "FAULT_DUMP failed reason=overall_timeout reports=300 bytes=300 elapsed_ms=30000 "
         "last_report_age_ms=0" +
             lost},
        {{{0, testing::responseReport(0x80, 255, 6)}},
         "FAULT_DUMP initial response failed sequence=255 error=FAULT_DUMP failed: FAILED" +
             present + "FAULT_DUMP failed: FAILED"},
        {{{0, dump("x")}},
         "FAULT_DUMP sending command sequence=255\nFAULT_DUMP initial response had nonzero payload "
         "length=1\nFAULT_DUMP returned an invalid initial response."},
        {{{5, dump(f56)}, {6, dump(kEnd), {}, true}},
         "end_marker=no\nFAULT_DUMP failed reason=reports_lost reports=1 bytes=56 elapsed_ms=6\n"
         "Fault log download failed: reports were lost before they could be read."},
        {{{0, testing::responseReport(0x80, 255), {}, true}, {5, dump(kEnd)}},
         "accepted sequence=255\nFAULT_DUMP failed reason=reports_lost reports=0 bytes=0 "
         "elapsed_ms=5\nFault log download failed: reports were lost before they could be read."}};
    for (const auto& [reports, expected] : rows) {
        testing::Bench bench;
        bench.port.devices = {{platform::fromUtf8("mgmt-1"), "", "", "VK1"},
                              device("mgmt-2", "VK1")};
        auto& reaction = bench.port.onRequest();
        if (reports.empty() || reports.front().afterMs != 0) {
            reaction.reply(testing::responseReport(0x80, 255));
        }
        reaction.arrivals.insert(reaction.arrivals.end(), reports.begin(), reports.end());
        bench.handle.noteQueueOverflow();
        std::uint8_t counter = 255;
        std::string text;
        const std::string error = testing::outcomeOf([&] {
            text = downloadFaultDump(bench.services, bench.handle, counter, device("mgmt-1", "VK1"),
                                     bench.log);
        });
        std::string log;
        for (const std::string& line : testing::readLogLines(bench.log.path())) {
            log += line + "\n";
        }
        EXPECT_TRUE((log + error + text).ends_with(expected)) << expected << "\n\n" << log + error;
        EXPECT_EQ(counter, 0);
    }
}

// The adapter is still there when a management interface has its path, or its serial number
// when it has one; the bus lists a bootloader, "mgmt-2" of VK2 and "mgmt-3" without a serial.
TEST(FaultDumpDownload, AfterAFailureLogsWhetherTheAdapterIsStillListed) {
    const std::vector<std::pair<HidDeviceInfo, std::string>> rows{
        {device("mgmt-2", "VK9"), "present"},
        {device("mgmt-9", "VK2"), "present"},
        {device("mgmt-9", "VK9"), "not_present"},
        {device("mgmt-9", ""), "not_present"}};
    for (const auto& [expected, presence] : rows) {
        testing::Bench bench;
        bench.port.devices = {{platform::fromUtf8("boot"), "Velkora", "Velkora Bootloader", "VK2"},
                              device("mgmt-2", "VK2"),
                              device("mgmt-3", "")};
        logManagementInterfacePresence(bench.services, expected, bench.log);
        EXPECT_EQ(testing::readLogLines(bench.log.path()).back(),
                  "FAULT_DUMP application HID after failure: expected_device=" + presence +
                      " management_interfaces=2");
    }
}

const std::string kFailed = "Fault log display failed: ";
const std::string kMarkers = kFailed + "the complete dump markers were not received.";
const std::string kBad = kFailed + "unsupported fault record format.";
const std::string kCount = kFailed + "the complete fault records could not be verified.";

std::string framed(const std::string& lines) {
    return kBegin + "Velkora St\xC3\xB6rungen \xE2\x80\x94 fault log\r\n" + lines + kEnd;
}

// The records as "index code x value1 value2" (x "-" when absent) joined by ";", or the failure.
std::string parsed(const std::string& dump) {
    std::string text;
    const std::string error = testing::outcomeOf([&] {
        for (const FaultRecord& r : parseFaultDump(dump)) {
            text += (text.empty() ? "" : ";") + std::to_string(r.index) + " " + r.code + " " +
                    (r.hasX ? std::to_string(r.x) : "-") + " " + std::to_string(r.value1) + " " +
                    std::to_string(r.value2);
        }
    });
    return error + text;
}

TEST(FaultDumpParser, TakesExactlyTheCountedRecordsBetweenTheMarkers) {
    const std::vector<std::pair<std::string, std::string>> rows{
        {framed("000\r\n"), ""},
        {framed("002\r\n\r\n001 FLT_BIG_OC 00100 05000\r\n\n002 PD_SOFT_RESET 017 00001 00002\n"),
         "1 FLT_BIG_OC - 100 5000;2 PD_SOFT_RESET 17 1 2"},
        {framed("002\r\n003\t\tAZ09_ \t 00010\v00003  \r\n004  B\f000\r00001 00002\t \r\r\n"),
         "3 AZ09_ - 10 3;4 B 0 1 2"},
        {framed("001\r\n\x1B[1;33m005\x1B[0m \x1B[31mFLT_SWAP\x1B[m 00000 0000\x1B[\x1B\r\nm1\r\n"),
         "5 FLT_SWAP - 0 1"},
        {framed("1234\r\n 001\r\n001 \r\n\r\n001\r\n042 X 00001 65535\r\n"), "42 X - 1 65535"},
        {framed("001\r\n001 A 00001 00002\r\n") + "\x1B[31mflt\r\n002 X 1 2\r\n", "1 A - 1 2"},
        {framed("003\r\n999 A 255 65535 00000\r\n000 B 000 70000 99999\r\n100 C 65536 65537\r\n"),
         "999 A 255 65535 0;0 B 0 4464 34463;100 C - 0 1"},
        {"001\r\n001 A 00001 00002\r\n" + kEnd + kBegin, "1 A - 1 2"},  // markers in any order
        {"000\r\n" + kEnd, kMarkers},
        {kBegin + "000\r\n[EOL] DATA DUMP END\r\n", kMarkers},
        {framed("000\r\n") + "\x1B[", kFailed + "unsupported text format."},
        {framed("\x1B(B000\r\n"), kFailed + "unsupported text format."},
        {framed("000\r\n") + "\x1B[0", kFailed + "incomplete text format."},
        {framed("001\r\n001 A 256 00001 00002\r\n"), kFailed + "invalid fault record x value."},
        {kBegin + "001\r\n001 A 00001 00002" + kEnd, kBad},
        {kBegin + kEnd + "000\r\n[EOL] DATA DUMP END \r\n", kBad},
        {framed("002\r\n001 A 00001 00002\r\n"), kCount},
        {framed("001\r\n001 A 00001 00002\r\n002 A 00001 00002\r\n"), kCount},
        {framed("records follow\r\n"), kCount},
        {kBegin + kEnd + "000\r\n", kCount}};
    for (const auto& [dump, result] : rows) {
        EXPECT_EQ(parsed(dump), result) << ::testing::PrintToString(dump.substr(0, 120));
    }
    std::istringstream records(
        "001 flt_weld 00001 00002| 001 A 00001 00002|001|001 A 0001 00002|001 A 00001 000020|001 A "
        "01 00001 00002|001 A 00001|001 A 00001 00002 00003 00004|001 A 001 00001 00002 00003|001 "
        "A 0000: 00002|001 @ 00001 00002|001 FLT_\xC3\x84 00001 00002|001\xC2\xA0"
        "A 00001 00002|" +
        std::string(65000, '0'));
    for (std::string record; std::getline(records, record, '|');) {
        EXPECT_EQ(parsed(framed("001\r\n" + record + "\r\n")), kBad) << record.substr(0, 40);
    }
}

// Signed values read 65535 as -1 and 32768 as -32768; unsigned ones keep them.
TEST(FaultLog, ShowsTheTitleAndValueLinesOfEveryRecordOrNone) {
    const std::string current = "|Current: -1 mA", phone = "|Phone Voltage: ";
    const std::string both = current + phone + "32768 mV";
    const std::vector<std::tuple<std::string, std::uint16_t, std::uint16_t, std::string>> rows{
        {"FLT_BIG_OC", 65436, 5120, "Charging Overcurrent|Current: -100 mA" + phone + "5120 mV"},
        {"FLT_SM_OC", 65535, 32768, "Vehicle USB Overcurrent" + both},
        {"FLT_BG_SHTDN", 32768, 0, "Charging Power Shutdown|Current: -32768 mA" + phone + "0 mV"},
        {"FLT_SM_SHTDN", 65535, 32768, "Vehicle USB Power Shutdown" + both},
        {"FLT_SM_ACTIVE", 65535, 32768, "Vehicle USB Power Fault" + both},
        {"FLT_BOARD_CURRENT", 65535, 32768, "Board Overcurrent" + both},
        {"CLEAN_RUN", 65535, 32768, "Normal Operation Marker" + both},
        {"FLT_TEMPERATURE", 65535, 9, "Overtemperature|Temperature: -1 C"},
        {"FLT_BG_ACTIVE", 32767, 4900, "Charging Power Fault|Current: 32767 mA"},
        {"FLT_ISENSOR", 65535, 65535, "Current Sensor Fault" + current},
        {"FLT_ISENSOR", 65535, 65534, "Current Sensor Fault|ADC Average: 65535|ADC Delta: -2"},
        {"FLT_ISENSOR", 1, 0, "Current Sensor Fault|ADC Average: 1|ADC Delta: 0"},
        {"FLT_SM_OVERVOLT", 65535, 7, "Vehicle USB Overvoltage" + phone + "65535 mV"},
        {"FLT_OFF_OVERVOLT", 65535, 7, "Charging Voltage While Off|Charging Voltage: 65535 mV"},
        {"FLT_WELDCKTFAIL", 65535, 32768,
         "Redundant Protection Fault" + current + "|Vehicle USB Voltage: 32768 mV"},
        {"FLT_INTERROR_01", 65535, 0, "Internal Error|Value 1: 65535|Value 2: 0"},
        {"FLT_DBG_ACCMODE", 65535, 65535, "Accessory Mode Detected"},
        {"PD_SOFT_RESET", 65535, 1, "Protocol Event|Event Value 1: 65535|Event Value 2: 1"},
        {"PD_HARD_RESET", 1, 65535,
         "Protocol Recovery Event|Event Value 1: 1|Event Value 2: 65535"},
        {"PD3_CA_STATS", 1, 2, "Protocol Statistics|Statistic Value 1: 1|Statistic Value 2: 2"},
        {"FLT_WELD", 65535, 0, "Power Switch Fault" + current + "|Status: No status flags"},
        {"FLT_WELD", 100, 1, "Power Switch Fault|Current: 100 mA|Status: Weld indication"},
        {"FLT_WELD", 0, 2,
         "Power Switch Fault|Current: 0 mA|Status: Redundant protection indication"},
        {"FLT_WELD", 65535, 3,
         "Power Switch Fault" + current + "|Status: Weld and redundant protection indications"},
        {"FLT_BG_OVERVOLT", 65535, 0, "Charging Overvoltage" + phone + "65535 mV"},
        {"FLT_BG_OVERVOLT", 65535, 1, "Charging Overvoltage|Charging Voltage Limit: 65535 mV"},
        {"FLT_SWAP", 65535, 0, "Power Transfer Fault|Direction: Vehicle USB to Charging"},
        {"FLT_SWAP", 0, 1, "Power Transfer Fault|Direction: Charging to Vehicle USB"}};
    for (const auto& [code, value1, value2, text] : rows) {
        const FaultDisplay display = describeFaultRecord({12, code, true, 200, value1, value2});
        std::string shown = display.title;
        for (const std::string& line : display.lines) {
            shown += "|" + line;
        }
        EXPECT_EQ(shown, text);
    }
    const std::vector<std::pair<std::string, std::uint16_t>> refused{
        {"FLT_WELD", 4}, {"FLT_BG_OVERVOLT", 2}, {"FLT_SWAP", 2}, {"FLT_SWAP", 65535},
        {"flt_weld", 0}, {"FLT_WEL", 0},         {"FLT_WELDS", 0}};
    for (const auto& [code, value2] : refused) {
        EXPECT_THROW(describeFaultRecord({1, code, false, 0, 0, value2}), std::runtime_error);
    }
    EXPECT_EQ(formatFaultLog({}), "Total number of faults: 0\r\nNo faults are stored.\r\n");
}

}  // namespace
}  // namespace velkora
