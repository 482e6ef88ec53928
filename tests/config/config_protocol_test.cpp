#include <stdexcept>

#include "config/config_protocol.h"
#include "tests/support/scripted_connection_fixture.h"

namespace velkora {
namespace {

using testing::Report;
using testing::responseReport;

constexpr std::uint8_t kGetConfig = 0x84;

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

// The configuration commands over a scripted management interface.
class ConfigProtocol : public testing::ScriptedConnectionFixture {
  protected:
    std::string snapshotError(Report answer) {
        port.onRequest().reply(std::move(answer));
        std::uint8_t sequence = 2;
        return errorOf([&] { readConfigSnapshot(handle, sequence); });
    }

    Report configAnswer(std::vector<std::uint8_t> payload, std::uint8_t status = 0,
                        bool withReportId = true) {
        return responseReport(kGetConfig, 2, status, payload, withReportId);
    }
};

struct SnapshotCase {
    const char* name;
    std::vector<std::uint8_t> payload;
    std::string error;
};

class SnapshotDecoding : public ConfigProtocol,
                         public ::testing::WithParamInterface<SnapshotCase> {};

TEST_P(SnapshotDecoding, ChecksFormatCountItemsAndValues) {
    EXPECT_EQ(snapshotError(configAnswer(GetParam().payload)), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SnapshotDecoding,
    ::testing::Values(
        SnapshotCase{"NoItems", {1, 0}, ""},
        SnapshotCase{"AllNine", {1, 9, 1, 4, 2, 2, 3, 2, 4, 2, 5, 2, 6, 1, 7, 2, 8, 1, 9, 1}, ""},
        SnapshotCase{"AnyOrder", {1, 2, 9, 1, 1, 0}, ""},
        SnapshotCase{"Empty", {}, "GET_CONFIG returned an unsupported configuration wire format."},
        SnapshotCase{"WireFormatTwo",
                     {2, 0},
                     "GET_CONFIG returned an unsupported configuration wire format."},
        SnapshotCase{"CountTen",
                     {1, 10, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0, 8, 0, 9, 0, 1, 0},
                     "GET_CONFIG returned an invalid item count or payload length."},
        SnapshotCase{"LengthShort",
                     {1, 2, 1, 0, 2},
                     "GET_CONFIG returned an invalid item count or payload length."},
        SnapshotCase{"DuplicateItem",
                     {1, 2, 3, 0, 3, 1},
                     "GET_CONFIG returned an unknown or duplicate item ID."},
        SnapshotCase{
            "ItemZero", {1, 1, 0, 0}, "GET_CONFIG returned an unknown or duplicate item ID."},
        SnapshotCase{
            "ItemTen", {1, 1, 10, 0}, "GET_CONFIG returned an unknown or duplicate item ID."},
        SnapshotCase{"HotSwapValueTwo", {1, 1, 6, 2}, "GET_CONFIG returned an invalid item value."},
        SnapshotCase{"RedriverValueFour", {1, 1, 1, 4}, ""},
        SnapshotCase{
            "RedriverValueFive", {1, 1, 1, 5}, "GET_CONFIG returned an invalid item value."}),
    [](const ::testing::TestParamInfo<SnapshotCase>& row) { return row.param.name; });

TEST_F(ConfigProtocol, ASnapshotHoldsExactlyTheReportedItems) {
    port.onRequest().reply(configAnswer({1, 2, 9, 1, 2, 2}));
    std::uint8_t sequence = 2;
    const ConfigSnapshot snapshot = readConfigSnapshot(handle, sequence);
    ConfigSnapshot expected{};
    expected[8] = 1;
    expected[1] = 2;
    EXPECT_EQ(snapshot, expected);
    EXPECT_EQ(sequence, 3);
}

TEST_F(ConfigProtocol, ShortAnswersAreDecodedOneByteEarlier) {
    port.onRequest().reply(configAnswer({1, 1, 4, 2}, 0, false));
    std::uint8_t sequence = 2;
    EXPECT_EQ(readConfigSnapshot(handle, sequence)[3], std::optional<std::uint8_t>(2));
}

struct CheckCase {
    const char* name;
    std::function<Report()> answer;
    std::string error;
};

class ResponseCheck : public ConfigProtocol, public ::testing::WithParamInterface<CheckCase> {};

// The order of the checks decides which message a broken answer gets.
TEST_P(ResponseCheck, RefusesBrokenAnswersInOrder) {
    port.onRequest().reply(GetParam().answer());
    std::uint8_t sequence = 2;
    EXPECT_EQ(errorOf([&] { setConfigItem(handle, sequence, 2, 1); }), GetParam().error);
}

Report setAnswer(std::uint8_t status = 0, std::vector<std::uint8_t> payload = {}) {
    return responseReport(0x85, 2, status, payload);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ResponseCheck,
    ::testing::Values(
        CheckCase{"Accepted", [] { return setAnswer(); }, ""},
        CheckCase{"ReportIdNotZero",
                  [] {
                      Report report = setAnswer();
                      report[0] = 1;
                      report[2] = 0;  // a broken magic too: the report ID is checked first
                      return report;
                  },
                  "Configuration command returned an invalid HID report ID."},
        CheckCase{"SixtyThreeBytes",
                  [] {
                      Report report = setAnswer();
                      report.erase(report.begin());
                      report.pop_back();
                      return report;
                  },
                  "Configuration command returned an invalid HID report size."},
        CheckCase{"WrongMagic",
                  [] {
                      Report report = setAnswer();
                      report[1] = 'X';
                      return report;
                  },
                  "Configuration command returned an invalid application HID response."},
        CheckCase{"WrongVersion",
                  [] {
                      Report report = setAnswer();
                      report[4] = 2;
                      return report;
                  },
                  "Configuration command returned an invalid application HID response."},
        CheckCase{"StatusWithPayload", [] { return setAnswer(8, {1}); },
                  "Configuration command returned an invalid response payload length."},
        CheckCase{"OkWithPayload", [] { return setAnswer(0, {1}); },
                  "Configuration command returned an invalid response payload length."},
        CheckCase{"BadValue", [] { return setAnswer(8); }, "SET_CONFIG_ITEM failed: BAD_VALUE"},
        CheckCase{"UnnamedStatus", [] { return setAnswer(9); },
                  "SET_CONFIG_ITEM failed: STATUS_0x09"},
        CheckCase{"Failed", [] { return setAnswer(6); }, "SET_CONFIG_ITEM failed: FAILED"}),
    [](const ::testing::TestParamInfo<CheckCase>& row) { return row.param.name; });

TEST_F(ConfigProtocol, SetItemSendsTheItemAndValue) {
    port.onRequest().reply(setAnswer());
    std::uint8_t sequence = 2;
    setConfigItem(handle, sequence, 2, 1);
    const Report& request = port.written().front();
    EXPECT_EQ(request[5], 0x85);
    EXPECT_EQ(request[7], 2);
    EXPECT_EQ(request[9], 0x02);
    EXPECT_EQ(request[10], 0x01);
}

TEST_F(ConfigProtocol, GetConfigHasItsOwnSizeMessage) {
    Report report = configAnswer({1, 0}, 0, false);
    report.pop_back();  // 63 bytes: the exchange takes it, the size check does not
    EXPECT_EQ(snapshotError(report), "GET_CONFIG returned an invalid HID report size.");
}

TEST_F(ConfigProtocol, GetConfigStatusIsNamedWithTheConfigurationNames) {
    EXPECT_EQ(snapshotError(configAnswer({}, 7)), "GET_CONFIG failed: BAD_ITEM");
}

struct IdentityCase {
    const char* name;
    std::vector<std::uint8_t> payload;
    std::uint8_t status;
    std::string error;
};

class ApplicationIdentity : public ConfigProtocol,
                            public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(ApplicationIdentity, MustBeAppOneWithWireFormatOne) {
    port.onRequest().reply(responseReport(0x83, 1, GetParam().status, GetParam().payload));
    EXPECT_EQ(errorOf([&] { readApplicationIdentity(handle); }), GetParam().error);
    EXPECT_EQ(port.written().front()[6], 1) << "GET_INFO always goes out with sequence 1";
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ApplicationIdentity,
    ::testing::Values(
        IdentityCase{"App1", {'A', 'P', 'P', '1', 0, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9}, 0, ""},
        IdentityCase{"App2",
                     {'A', 'P', 'P', '2', 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                     0,
                     "Unsupported application identity or configuration wire format."},
        IdentityCase{"WireFormatTwo",
                     {'A', 'P', 'P', '1', 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                     0,
                     "Unsupported application identity or configuration wire format."},
        IdentityCase{"FourteenBytes",
                     {'A', 'P', 'P', '1', 0, 1, 0, 0, 0, 0, 0, 0, 0, 0},
                     0,
                     "Configuration command returned an invalid response payload length."},
        IdentityCase{"Busy", {}, 5, "Application GET_INFO failed: BUSY"}),
    [](const ::testing::TestParamInfo<IdentityCase>& row) { return row.param.name; });

TEST(ConfigStatusNames, DifferFromTheBootloaderFromSixOn) {
    EXPECT_EQ(configStatusName(5), "BUSY");
    EXPECT_EQ(configStatusName(6), "FAILED");
    EXPECT_EQ(configStatusName(7), "BAD_ITEM");
    EXPECT_EQ(configStatusName(8), "BAD_VALUE");
    EXPECT_EQ(configStatusName(9), "STATUS_0x09");
    EXPECT_EQ(configStatusName(0xFF), "STATUS_0xFF");
}

}  // namespace
}  // namespace velkora
