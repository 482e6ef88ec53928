#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "hid/hid_exchange.h"
#include "hid/report_frame.h"
#include "tests/support/scripted_hid_port.h"

namespace velkora {
namespace {

TEST(ReportFrame, HeaderThenPayloadThenZeros) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, kMaxPayload}) {
        SCOPED_TRACE(size);
        std::vector<std::uint8_t> payload(size);
        std::iota(payload.begin(), payload.end(), std::uint8_t{0xA0});
        const ReportFrame frame = buildRequestFrame(0x04, 0x7F, payload);

        const std::vector<std::uint8_t> header(frame.begin(), frame.begin() + 9);
        EXPECT_EQ(header, (std::vector<std::uint8_t>{0, 'Z', 'U', 'Q', 1, 0x04, 0x7F,
                                                     static_cast<std::uint8_t>(size), 0}));
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), frame.begin() + 9));
        EXPECT_TRUE(std::all_of(frame.begin() + 9 + static_cast<std::ptrdiff_t>(size), frame.end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
}

// Windows returns the report ID with the report, hidraw does not: the same response must
// decode to the same fields from both shapes.
TEST(HidResponse, DecodesTheSameFieldsWithAndWithoutReportId) {
    const std::vector<std::uint8_t> payload{0x11, 0x22, 0x33};
    for (const bool withReportId : {true, false}) {
        SCOPED_TRACE(withReportId);
        const testing::Report report =
            testing::responseReport(0x83, 0x42, 7, payload, withReportId);
        HidResponse response;
        std::copy(report.begin(), report.end(), response.data.begin());
        response.length = static_cast<std::uint32_t>(report.size());

        EXPECT_EQ(response.hasReportId(), withReportId);
        EXPECT_TRUE(response.magicMatches());
        EXPECT_EQ(response.version(), 1);
        EXPECT_EQ(response.command(), 0x83);
        EXPECT_EQ(response.sequence(), 0x42);
        EXPECT_EQ(response.responseStatus(), 7);
        EXPECT_EQ(response.payloadLength(), 3);
        EXPECT_EQ(response.responsePayload(0), 0x11);
        EXPECT_EQ(response.responsePayload(2), 0x33);
        EXPECT_EQ(response.responsePayload(3), 0);
    }
}

}  // namespace
}  // namespace velkora
