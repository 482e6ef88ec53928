#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/fault_log_session.h"

namespace velkora::testing {
namespace {

// An adapter whose fault dump holds one line of 65,000 characters, the most a 64 KiB dump
// leaves room for besides its markers. A faulty or hostile device may send such a line; the
// updater must read it by the same line grammar as any other, in time and memory that grow
// only with the line, and never crash (a matcher that recursed per character would overflow
// the stack: the Windows main thread has 2 MiB). Each row places the line somewhere else.
constexpr std::size_t kLineLength = 65000;

// `head` + `fill` repeated + `tail`, exactly kLineLength characters.
std::string longLine(const std::string& head, char fill, const std::string& tail) {
    return head + std::string(kLineLength - head.size() - tail.size(), fill) + tail;
}

struct LongLineCase {
    const char* name;
    std::vector<std::string> dumpLines;  // between the markers
    std::string outcome;                 // the closing message, or the fault log text shown
};

void PrintTo(const LongLineCase& row, std::ostream* out) {
    *out << row.name;
}

std::string scenarioWith(const std::vector<std::string>& dumpLines) {
    std::string text =
        "[fault_dump]\n"
        "line = \"\\e[30;46m[EOL] DATA DUMP BEGIN\\e[0m\"\n";
    for (const std::string& line : dumpLines) {
        text += "line = \"" + line + "\"\n";
    }
    return text + "line = \"\\e[30;46m[EOL] DATA DUMP END\\e[0m\"\n";
}

const std::string kOneOvercurrent =
    "Total number of faults: 1\r\n\r\nFault 001\r\nCharging Overcurrent\r\nCurrent: -100 "
    "mA\r\nPhone Voltage: 5120 mV\r\n";

class OverlongDumpLine : public ::testing::TestWithParam<LongLineCase> {};

TEST_P(OverlongDumpLine, IsReadByTheLineGrammar) {
    const LongLineCase& row = GetParam();
    for (const std::string& line : row.dumpLines) {
        ASSERT_LE(line.size(), kLineLength);
    }
    const TranscriptResult result =
        fault_log::runWithScenario(scenarioWith(row.dumpLines), {}, fault_log::typed({"2", "4"}));

    // The whole dump arrived, long line and all, before the parser judged it.
    const std::vector<std::string> log = fault_log::modeLog(result);
    const auto complete = std::find_if(log.begin(), log.end(), [](const std::string& line) {
        return line.starts_with("FAULT_DUMP complete reports=");
    });
    ASSERT_NE(complete, log.end());
    EXPECT_GT(std::stoul(complete->substr(complete->find(" bytes=") + 7)), kLineLength);

    const std::string console = fault_log::modeConsole(result.printed);
    const std::vector<std::string> saved = fault_log::savedFaultLogs(result);
    if (row.outcome.starts_with("Total number of faults: ")) {
        EXPECT_EQ(visible(fault_log::printedFaultLog(result.printed)), visible(row.outcome));
        ASSERT_EQ(saved.size(), 1u);
        EXPECT_EQ(saved.front(), row.outcome);
        EXPECT_TRUE(console.ends_with("Returning to adapter detection...\n\n"));
        EXPECT_EQ(result.exitCode, 0);
    } else {
        EXPECT_EQ(console,
                  "Starting fault-log mode...\n"
                  "Starting device and waiting for its management interface...\n"
                  "Reading fault log...\n\nUpdate failed.\n" +
                      row.outcome + "\n\nPress Enter to close.");
        EXPECT_TRUE(saved.empty());
        EXPECT_EQ(log.back(), "application EXIT succeeded");
        EXPECT_EQ(result.exitCode, 1);
    }
    EXPECT_EQ(fault_log::modeRequests(result),
              (std::vector<std::string>{"START_APP_USB 4", "FAULT_DUMP 1", "EXIT 2"}));
    EXPECT_EQ(result.openConnections, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    SixtyFiveThousandCharacters, OverlongDumpLine,
    ::testing::Values(
        // Not a record line in either form: the dump is refused as a whole.
        LongLineCase{"AnIndexAndACodeOfDigitsWithoutValues",
                     {"001", longLine("001 ", '0', "")},
                     "Fault log display failed: unsupported fault record format."},
        LongLineCase{"BlanksBetweenFieldsWithOneValueMissing",
                     {"001", longLine("001", ' ', "FLT_BIG_OC 65436")},
                     "Fault log display failed: unsupported fault record format."},
        LongLineCase{"TabsAfterARecordThenAStrayCharacter",
                     {"001", longLine("001 FLT_BIG_OC 65436 05120", '\t', "X")},
                     "Fault log display failed: unsupported fault record format."},
        LongLineCase{"ACodeWithALowerCaseLetterAtItsEnd",
                     {"001", longLine("001 ", 'F', "f 65436 05120")},
                     "Fault log display failed: unsupported fault record format."},
        // Before the count line every line is skipped, however long.
        LongLineCase{"SkippedBeforeTheCount",
                     {longLine("Velkora fault log ", '=', ""), "001", "001 FLT_BIG_OC 65436 05120"},
                     kOneOvercurrent},
        // A record line may end in any amount of whitespace.
        LongLineCase{"ARecordWithTrailingBlanks",
                     {"001", longLine("001 FLT_BIG_OC 65436 05120", ' ', "")},
                     kOneOvercurrent},
        // A record line in form whose code no catalogue holds.
        LongLineCase{"ARecordWithAnOverlongCode",
                     {"001", longLine("001 ", 'F', " 65436 05120")},
                     "Fault log contains a fault record that this updater cannot display."}),
    [](const ::testing::TestParamInfo<LongLineCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::testing
