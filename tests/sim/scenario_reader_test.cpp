#include <gtest/gtest.h>

#include <string>

#include "sim/scenario_reader.h"

namespace velkora::sim {
namespace {

// The demo's own scenario is the documented example: it must read, and say what the demo
// promises (a valid application, a fault log with several kinds of records, all nine items).
TEST(ScenarioReader, DemoScenarioDescribesTheDemoAdapter) {
    const AdapterProfile profile = readScenarioFile(VELKORA_DEMO_SCENARIO);
    EXPECT_TRUE(profile.application.valid);
    EXPECT_GT(profile.timing.plugInMs, 0u);
    EXPECT_EQ(profile.faultDump.rfind(faultDumpBeginMarker(), 0), 0u);
    EXPECT_NE(profile.faultDump.find(faultDumpEndMarker()), std::string::npos);
    for (const ConfigItemProfile& item : profile.config) {
        EXPECT_TRUE(item.present);
    }
}

TEST(ScenarioReader, ReadsEveryKindOfField) {
    const AdapterProfile profile = parseScenario(R"(# a comment
[adapter]
identity = application
serial = "AB\x43"
bootloader_path = \\?\hid#vid_0483&pid_a5b9#x

[bootloader]
protocol = 1.1
compatibility = 0x03
version = 2.0.1.255
transfer = state=ERROR active=0 expected=100 received=51 last_command=DATA_CHUNK last_status=OFFSET_MISMATCH

[timing]
usb_frames = yes
dump_chunk_sizes = 1 56

[fault_dump]
line = "\e[30;46m[EOL] DATA DUMP BEGIN\e[0m"
raw = 000\r\n

[config]
item2 = stored=1 default=2
item9 = absent

[faults]
START_UPDATE 1 = status BUSY
DATA_CHUNK every = stale
FAULT_DUMP 2 = payload_length 0 report=3
GET_INFO 1 = unplug 1500

[bus]
extra = management serial=OTHER appear_ms=100
)",
                                                 "inline.scn");
    EXPECT_EQ(profile.identity.initial, Identity::Application);
    EXPECT_EQ(profile.identity.serial, "ABC");
    EXPECT_EQ(profile.identity.bootloaderPath, "\\\\?\\hid#vid_0483&pid_a5b9#x");
    EXPECT_EQ(profile.bootloader.protocolMinor, 1);
    EXPECT_EQ(profile.bootloader.bootloaderVersion, (VersionBytes{2, 0, 1, 255}));
    EXPECT_EQ(profile.bootloader.prior.state, transfer_state::kError);
    EXPECT_EQ(profile.bootloader.prior.lastStatus, 8);
    EXPECT_EQ(profile.timing.dumpChunkSizes, (std::vector<std::uint8_t>{1, 56}));
    EXPECT_EQ(profile.faultDump, "\x1b[30;46m[EOL] DATA DUMP BEGIN\x1b[0m\r\n000\\r\\n")
        << "escapes only in quoted text";
    EXPECT_EQ(profile.config[1].defaultValue, 2);
    EXPECT_FALSE(profile.config[8].present);
    ASSERT_EQ(profile.faults.size(), 4u);
    EXPECT_EQ(profile.faults[0].value, 5u);
    EXPECT_EQ(profile.faults[1].occurrence, 0u);
    EXPECT_EQ(profile.faults[1].value, 1u);
    EXPECT_EQ(profile.faults[2].report, 3u);
    EXPECT_EQ(profile.faults[3].kind, FaultKind::Unplug);
    EXPECT_EQ(profile.faults[3].value, 1500u);
    ASSERT_EQ(profile.extras.size(), 1u);
    EXPECT_EQ(profile.extras[0].appearMs, 100u);
}

struct Malformed {
    const char* name;
    const char* text;
    const char* message;
};

class ScenarioErrors : public ::testing::TestWithParam<Malformed> {};

TEST_P(ScenarioErrors, NameFileLineAndField) {
    try {
        parseScenario(GetParam().text, "bad.scn");
        ADD_FAILURE() << "accepted";
    } catch (const ScenarioError& error) {
        EXPECT_STREQ(error.what(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScenarioErrors,
    ::testing::Values(
        Malformed{"NumberOutOfRange", "[bootloader]\n\ncompatibility = 0x1FF\n",
                  "bad.scn:3: bootloader.compatibility: expected a number from 0 to 255 "
                  "(decimal or 0x hexadecimal), got \"0x1FF\""},
        Malformed{"UnknownField", "[timing]\nplug_in = 5\n",
                  "bad.scn:2: timing.plug_in: unknown field"},
        Malformed{"UnknownSection", "[device]\n",
                  "bad.scn:1: unknown section [device] (adapter, bootloader, application, "
                  "timing, fault_dump, config, faults, bus)"},
        Malformed{"FieldOutsideSection", "serial = 1\n",
                  "bad.scn:1: serial: a field must stand in a [section]"},
        Malformed{"NoEquals", "[adapter]\nserial\n", "bad.scn:2: expected \"field = value\""},
        Malformed{"GivenTwice", "[adapter]\nserial = A\nserial = B\n",
                  "bad.scn:3: adapter.serial: given twice (first on line 2)"},
        Malformed{"BadVersion", "[application]\nversion = 1.2.3\n",
                  "bad.scn:2: application.version: expected a version of four numbers from 0 "
                  "to 255 like 1.4.0.12, got \"1.2.3\""},
        Malformed{"ItemValueBeyondCount", "[config]\nitem6 = stored=2\n",
                  "bad.scn:2: config.item6: expected a number from 0 to 1 (decimal or 0x "
                  "hexadecimal), got \"2\""},
        Malformed{"BadEscape", "[fault_dump]\nline = \"\\q\"\n",
                  "bad.scn:2: fault_dump.line: unknown escape \\q (use \\e \\r \\n \\t \\0 "
                  "\\\\ \\\" or \\xHH)"},
        Malformed{"UnterminatedQuote", "[fault_dump]\nline = \"abc\n",
                  "bad.scn:2: fault_dump.line: quoted text must end with a double quote"},
        Malformed{"UnknownFaultKind", "[faults]\nGET_INFO 1 = vanish\n",
                  "bad.scn:2: faults.GET_INFO 1: unknown fault kind \"vanish\" (status, "
                  "no_answer, answer_lost, stale, foreign, bad_magic, bad_version, "
                  "bad_command, bad_sequence, no_report_id, payload_length, delay, unplug, "
                  "extra_after_end, omit_item)"},
        Malformed{"FaultOccurrenceZero", "[faults]\nGET_INFO 0 = no_answer\n",
                  "bad.scn:2: faults.GET_INFO 0: occurrences count from 1; use \"every\" for "
                  "all of them"},
        Malformed{"ReportOnlyForDump", "[faults]\nGET_INFO 1 = bad_magic report=2\n",
                  "bad.scn:2: faults.GET_INFO 1: report=K aims at a dump report: only for "
                  "FAULT_DUMP faults that bend one report"},
        Malformed{"OmitItemOnlyForGetConfig", "[faults]\nGET_INFO 1 = omit_item 7\n",
                  "bad.scn:2: faults.GET_INFO 1: omit_item bends the item list of a GET_CONFIG "
                  "answer: only for GET_CONFIG"},
        Malformed{"UnknownStatus", "[faults]\nGET_INFO 1 = status NOPE\n",
                  "bad.scn:2: faults.GET_INFO 1: expected a status name or a number from 0 to "
                  "255, got \"NOPE\""}),
    [](const ::testing::TestParamInfo<Malformed>& row) { return row.param.name; });

TEST(ScenarioReader, MissingFileIsNamed) {
    try {
        readScenarioFile("no/such/file.scn");
        ADD_FAILURE() << "accepted";
    } catch (const ScenarioError& error) {
        EXPECT_STREQ(error.what(), "Unable to read scenario file no/such/file.scn");
    }
}

}  // namespace
}  // namespace velkora::sim
