#include "management/fault_dump_parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "management/colour_codes.h"
#include "management/fault_dump_markers.h"
#include "tests/management/fault_dump_text.h"

namespace velkora {
namespace {

using testing::framedDump;

// Names each case of a table after its `name`, so that a failure says which case it was.
template <typename Case>
std::string caseName(const ::testing::TestParamInfo<Case>& test) {
    return test.param.name;
}

const std::string kBegin(kFaultDumpBeginMarker);
const std::string kEnd(kFaultDumpEndMarker);

const std::string kMarkersMissing =
    "Fault log display failed: the complete dump markers were not received.";
const std::string kUnsupportedText = "Fault log display failed: unsupported text format.";
const std::string kIncompleteText = "Fault log display failed: incomplete text format.";
const std::string kInvalidX = "Fault log display failed: invalid fault record x value.";
const std::string kUnsupportedRecord = "Fault log display failed: unsupported fault record format.";
const std::string kNotVerified =
    "Fault log display failed: the complete fault records could not be verified.";

std::string parseError(const std::string& dump) {
    try {
        parseFaultDump(dump);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

FaultRecord record(std::uint16_t index, const char* code, std::uint16_t value1,
                   std::uint16_t value2) {
    return FaultRecord{index, code, false, 0, value1, value2};
}

FaultRecord recordWithX(std::uint16_t index, const char* code, std::uint8_t x, std::uint16_t value1,
                        std::uint16_t value2) {
    return FaultRecord{index, code, true, x, value1, value2};
}

struct AcceptedCase {
    const char* name;
    std::string dump;
    std::vector<FaultRecord> records;
};

class AcceptedDump : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedDump, GivesTheRecordsInOrder) {
    EXPECT_EQ(parseFaultDump(GetParam().dump), GetParam().records);
}

INSTANTIATE_TEST_SUITE_P(
    Parser, AcceptedDump,
    ::testing::Values(
        AcceptedCase{"EmptyLog", framedDump("000\r\n"), {}},
        AcceptedCase{
            "BothFormsWithCrLfAndLfAndEmptyLines",
            framedDump("002\r\n\r\n001 FLT_BIG_OC 00100 05000\r\n\n"
                       "002 PD_SOFT_RESET 017 00001 00002\n\r\n"),
            {record(1, "FLT_BIG_OC", 100, 5000), recordWithX(2, "PD_SOFT_RESET", 17, 1, 2)}},
        AcceptedCase{"AnyWhitespaceBetweenFieldsAndAtTheEnd",
                     framedDump("002\r\n003\t\tFLT_WELD \t 00010\v00003   \r\n"
                                "004  CLEAN_RUN\f000\r00001 00002\t \r\r\n"),
                     {record(3, "FLT_WELD", 10, 3), recordWithX(4, "CLEAN_RUN", 0, 1, 2)}},
        AcceptedCase{"ColourCodesInsideARecord",
                     framedDump("001\r\n\x1B[1;33m005\x1B[0m \x1B[31mFLT_SWAP\x1B[0m 00000 "
                                "0000\x1B[m1\r\n"),
                     {record(5, "FLT_SWAP", 0, 1)}},
        AcceptedCase{"BannerLinesBeforeTheCountAreSkipped",
                     framedDump("12\r\n1234\r\n 001\r\nrecords:\r\n\r\n001\r\n"
                                "042 FLT_ISENSOR 00001 65535\r\n"),
                     {record(42, "FLT_ISENSOR", 1, 65535)}},
        AcceptedCase{"LinesAfterTheEndLineAreIgnored",
                     framedDump("001\r\n001 FLT_BIG_OC 00001 00002\r\n") +
                         "garbage \x1B[31mflt\x1B[0m\r\n002 X 00001 00002\r\n",
                     {record(1, "FLT_BIG_OC", 1, 2)}},
        AcceptedCase{"LargestXAndValues",
                     framedDump("003\r\n"
                                "999 A 255 65535 00000\r\n"
                                "000 B 000 70000 99999\r\n"
                                "100 C 65536 65537\r\n"),
                     {recordWithX(999, "A", 255, 65535, 0), recordWithX(0, "B", 0, 4464, 34463),
                      record(100, "C", 0, 1)}},
        AcceptedCase{"MarkersInEitherOrderAndTheDumpCarriedOn",
                     kEnd + "noise\r\n" + kBegin + "001\r\n007 FLT_WELD 00001 00002\r\n" +
                         "[EOL] DATA DUMP END\r\n",
                     {record(7, "FLT_WELD", 1, 2)}},
        AcceptedCase{"FinalLineWithoutLineEnd", kBegin + kEnd + "000\r\n[EOL] DATA DUMP END", {}}),
    caseName<AcceptedCase>);

struct RefusedCase {
    const char* name;
    std::string dump;
    std::string message;
};

class RefusedDump : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedDump, FailsWithItsMessage) {
    EXPECT_EQ(parseError(GetParam().dump), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Parser, RefusedDump,
    ::testing::Values(
        RefusedCase{"Empty", "", kMarkersMissing},
        RefusedCase{"NoBeginMarker", "000\r\n" + kEnd, kMarkersMissing},
        RefusedCase{"NoEndMarker", kBegin + "000\r\n[EOL] DATA DUMP END\r\n", kMarkersMissing},
        RefusedCase{"EndMarkerInAnotherColour",
                    kBegin + "000\r\n\x1B[30;47m[EOL] DATA DUMP END\x1B[0m\r\n", kMarkersMissing},
        RefusedCase{"EscapeAtTheVeryEnd", framedDump("000\r\n") + "\x1B", kUnsupportedText},
        RefusedCase{"EscapeBracketAtTheEnd", framedDump("000\r\n") + "\x1B[", kUnsupportedText},
        RefusedCase{"EscapeWithoutBracket", framedDump("\x1B(B000\r\n"), kUnsupportedText},
        RefusedCase{"EscapeBracketDigitAtTheEnd", framedDump("000\r\n") + "\x1B[0",
                    kIncompleteText},
        RefusedCase{"XAbove255", framedDump("001\r\n001 PD3_CA_STATS 256 00001 00002\r\n"),
                    kInvalidX},
        RefusedCase{"LowerCaseCode", framedDump("001\r\n001 flt_weld 00001 00002\r\n"),
                    kUnsupportedRecord},
        RefusedCase{"LeadingSpace", framedDump("001\r\n 001 FLT_WELD 00001 00002\r\n"),
                    kUnsupportedRecord},
        RefusedCase{"SecondThreeDigitLine", framedDump("001\r\n001\r\n"), kUnsupportedRecord},
        RefusedCase{"FourDigitValue", framedDump("001\r\n001 FLT_WELD 0001 00002\r\n"),
                    kUnsupportedRecord},
        RefusedCase{"EndMarkerGluedToARecord", kBegin + "001\r\n001 FLT_WELD 00001 00002" + kEnd,
                    kUnsupportedRecord},
        RefusedCase{"RecordWithoutTrailingLineEndBeforeEndLine",
                    framedDump("001\r\n001 FLT_WELD 00001 00002 [EOL] DATA DUMP END\r\n"),
                    kUnsupportedRecord},
        RefusedCase{"FewerRecordsThanCounted", framedDump("002\r\n001 A 00001 00002\r\n"),
                    kNotVerified},
        RefusedCase{"MoreRecordsThanCounted",
                    framedDump("001\r\n001 A 00001 00002\r\n002 A 00001 00002\r\n"), kNotVerified},
        RefusedCase{"NoCountLine", framedDump("records follow\r\n"), kNotVerified},
        RefusedCase{"CountLineWithTrailingBlank",
                    framedDump("001 \r\n001 FLT_WELD 00001 00002\r\n"), kNotVerified},
        RefusedCase{"EndLineOnlyBeforeTheCount", kBegin + kEnd + "000\r\n", kNotVerified},
        RefusedCase{"EndLineWithTrailingBlank", kBegin + kEnd + "000\r\n[EOL] DATA DUMP END \r\n",
                    kUnsupportedRecord}),
    caseName<RefusedCase>);

// One line as long as anything the device can send: a regex engine that recurses per character
// overflows the stack on it (at about 26,000 characters on Linux, 5,000 on Windows).
struct LongLineCase {
    const char* name;
    std::string line;
};

class DeviceSizedLine : public ::testing::TestWithParam<LongLineCase> {};

TEST_P(DeviceSizedLine, IsRefusedAfterTheCount) {
    EXPECT_EQ(parseError(framedDump("001\r\n" + GetParam().line + "\r\n")), kUnsupportedRecord);
}

TEST_P(DeviceSizedLine, IsSkippedBeforeTheCount) {
    EXPECT_EQ(parseFaultDump(framedDump(GetParam().line + "\r\n000\r\n")),
              std::vector<FaultRecord>{});
}

std::string repeated(const std::string& unit, std::size_t length) {
    std::string text;
    while (text.size() < length) {
        text += unit;
    }
    text.resize(length);
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Parser, DeviceSizedLine,
    ::testing::Values(LongLineCase{"Digits", repeated("0", 65000)},
                      LongLineCase{"Blanks", "001" + repeated(" \t", 64997)},
                      LongLineCase{"DigitsAndBlanks", repeated("00000 ", 65000)},
                      LongLineCase{"LongCodeNotClosed", "001 " + repeated("FLT_", 64996)},
                      LongLineCase{"LongCodeWithForeignByte",
                                   "001 " + repeated("A", 64980) + "a 00001 00002"}),
    caseName<LongLineCase>);

TEST(Parser, AcceptsARecordWithADeviceSizedCode) {
    const std::string code = repeated("A", 64980);
    const std::vector<FaultRecord> records =
        parseFaultDump(framedDump("001\r\n001 " + code + " 00001 00002\r\n"));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].code, code);
}

struct StripCase {
    const char* name;
    std::string text;
    std::string plain;
};

class StripFormatting : public ::testing::TestWithParam<StripCase> {};

TEST_P(StripFormatting, RemovesEverySequenceWhole) {
    EXPECT_EQ(stripTextFormatting(GetParam().text), GetParam().plain);
}

INSTANTIATE_TEST_SUITE_P(
    Parser, StripFormatting,
    ::testing::Values(StripCase{"Markers", kBegin + kEnd,
                                "[EOL] DATA DUMP BEGIN\r\n[EOL] DATA DUMP END\r\n"},
                      StripCase{"EmptySequence", "a\x1B[mb", "ab"},
                      StripCase{"AnyBytesUpToTheFirstM", "a\x1B[\x1B\r\nxm;mb", "a;mb"},
                      StripCase{"Adjacent", "\x1B[1m\x1B[2mx\x1B[0m", "x"},
                      StripCase{"NulKept", std::string("a\0b", 3), std::string("a\0b", 3)}),
    caseName<StripCase>);

}  // namespace
}  // namespace velkora
