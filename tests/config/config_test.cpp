#include <gtest/gtest.h>

#include "config/config_mode.h"
#include "config/config_protocol.h"
#include "config/config_view.h"
#include "tests/support/bench.h"

namespace velkora {
namespace {

using testing::Report;

// An answer to `command` (sequence 1 for GET_INFO, else 2), cut to `size` bytes: 64 and less
// without the report ID, with one byte changed where `poke` says.
Report answer(std::uint8_t command, std::uint8_t status, const Report& payload = {},
              std::size_t size = 65, std::pair<std::size_t, std::uint8_t> poke = {99, 0}) {
    Report report =
        testing::responseReport(command, command == 0x83 ? 1 : 2, status, payload, size == 65);
    report.resize(size);
    if (poke.first < size) {
        report[poke.first] = poke.second;
    }
    return report;
}

// C GET_CONFIG (value index of items 1 to 9, "-" absent), S SET_CONFIG_ITEM 2 to 1, I GET_INFO.
TEST(ConfigProtocol, ChecksEveryAnswerInOrder) {
    const std::string invalid = "Configuration command returned an invalid ";
    const std::string length = invalid + "response payload length.";
    const std::string format = "GET_CONFIG returned an unsupported configuration wire format.";
    const std::string count = "GET_CONFIG returned an invalid item count or payload length.";
    const std::string item = "GET_CONFIG returned an unknown or duplicate item ID.";
    const std::string value = "GET_CONFIG returned an invalid item value.";
    const std::string identity = "Unsupported application identity or configuration wire format.";
    const Report app1{'A', 'P', 'P', '1', 0, 1, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    const Report all{1, 9, 1, 4, 2, 2, 3, 2, 4, 2, 5, 2, 6, 1, 7, 2, 8, 1, 9, 1};
    const std::vector<std::tuple<char, Report, std::string>> rows{
        {'C', answer(0x84, 0, {1, 0}), "---------"},
        {'C', answer(0x84, 0, all), "422221211"},
        {'C', answer(0x84, 0, {1, 2, 9, 1, 2, 2}), "-2------1"},
        {'C', answer(0x84, 0, {1, 1, 4, 2}, 64), "---2-----"},
        {'C', answer(0x84, 0, {1, 1, 4, 2}, 63), "GET_CONFIG returned an invalid HID report size."},
        {'C', answer(0x84, 7), "GET_CONFIG failed: BAD_ITEM"},
        {'C', answer(0x84, 0, {}, 65, {8, 57}), length},
        {'C', answer(0x84, 0, {1}), format},
        {'C', answer(0x84, 0, {2, 0}), format},
        {'C', answer(0x84, 0, all, 65, {10, 10}), count},
        {'C', answer(0x84, 0, {1, 1}, 65, {8, 56}), count},
        {'C', answer(0x84, 0, {1, 1, 1}), count},
        {'C', answer(0x84, 0, {1, 2, 3, 0, 3, 1}), item},
        {'C', answer(0x84, 0, {1, 1, 0, 0}), item},
        {'C', answer(0x84, 0, {1, 1, 10, 0}), item},
        {'C', answer(0x84, 0, {1, 1, 6, 2}), value},
        {'C', answer(0x84, 0, {1, 1, 1, 5}), value},
        {'S', answer(0x85, 0), ""},
        {'S', answer(0x85, 0, {}, 65, {0, 1}), invalid + "HID report ID."},
        {'S', answer(0x85, 0, {}, 63), invalid + "HID report size."},
        {'S', answer(0x85, 0, {}, 65, {2, 'X'}), invalid + "application HID response."},
        {'S', answer(0x85, 8, {1}), length},
        {'S', answer(0x85, 0, {1}), length},
        {'S', answer(0x85, 8), "SET_CONFIG_ITEM failed: BAD_VALUE"},
        {'S', answer(0x85, 6), "SET_CONFIG_ITEM failed: FAILED"},
        {'I', answer(0x83, 0, app1), ""},
        {'I', answer(0x83, 0, app1, 65, {9, 'X'}), identity},
        {'I', answer(0x83, 0, app1, 65, {14, 2}), identity},
        {'I', answer(0x83, 0, Report(app1.begin(), app1.end() - 1)), length},
        {'I', answer(0x83, 5), "Application GET_INFO failed: BUSY"}};
    for (const auto& [command, report, result] : rows) {
        testing::Bench bench;
        bench.port.onRequest().reply(report);
        std::uint8_t counter = 2;
        std::string outcome;
        const std::string error = testing::outcomeOf([&] {
            if (command == 'C') {
                for (const auto& index : readConfigSnapshot(bench.handle, counter)) {
                    outcome += index ? char('0' + *index) : '-';
                }
            } else if (command == 'S') {
                setConfigItem(bench.handle, counter, 2, 1);
            } else {
                readApplicationIdentity(bench.handle);
            }
        });
        EXPECT_EQ(error + outcome, result) << ::testing::PrintToString(report);
        const Report& sent = bench.port.written()[0];
        EXPECT_TRUE(command != 'S' || (sent[7] == 2 && sent[9] == 2 && sent[10] == 1))
            << "item, value";
    }
}

// A reply of digits only, leading zeros allowed, up to 255; anything else is no number (-1).
TEST(ConfigView, SmallNumbersAreDigitsUpTo255) {
    const std::vector<std::pair<std::string, int>> rows{{"0", 0},    {"009", 9}, {"255", 255},
                                                        {"256", -1}, {"1-", -1}, {"+1", -1},
                                                        {"1:", -1},  {"", -1}};
    for (const auto& [reply, number] : rows) {
        const std::optional<std::uint8_t> parsed = parseSmallNumber(reply);
        EXPECT_EQ(parsed ? int(*parsed) : -1, number) << reply;
    }
}

}  // namespace
}  // namespace velkora
