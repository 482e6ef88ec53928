#include <gtest/gtest.h>

#include <sstream>

#include "hid/hid_exchange.h"
#include "tests/support/bench.h"

namespace velkora {
namespace {

using testing::Report;
using testing::responseReport;
using Status = platform::HidIoResult::Status;

constexpr std::uint8_t kCommand = 0x04;
constexpr std::uint8_t kSequence = 0x21;

// A scripted bus with one open handle on it, and the last answer.
struct Bus : testing::Bench {
    HidResponse response;
    // "" or the failure, marked when it is the transport's: a lost or silent adapter.
    std::string exchange(std::uint32_t timeoutMs, const std::vector<std::uint8_t>& payload = {}) {
        try {
            response = hidExchange(handle, kCommand, kSequence, payload, timeoutMs);
        } catch (const HidTransportError& error) {
            return std::string("transport: ") + error.what();
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "";
    }
};

// Header, payload, zeros, at most 56 bytes; an answer without report ID has fields one earlier.
TEST(HidExchange, WritesOneFrameAndDecodesTheAnswerInEitherShape) {
    for (const std::size_t size : {std::size_t{0}, kMaxPayload, kMaxPayload + 1}) {
        Bus bus;
        Report frame{0, 'Z', 'U', 'Q', 1, kCommand, kSequence, static_cast<std::uint8_t>(size), 0};
        frame.resize(9 + size, 0xEE);
        frame.resize(kReportSize);
        const Report answer =
            size == 0 ? Report{0x11, 0x22, 0x33, 0x44} : Report(std::min(size, kMaxPayload), 0xEE);
        bus.port.onRequest().reply(responseReport(kCommand, kSequence, 7, answer, size == 0));
        EXPECT_EQ(bus.exchange(1000, std::vector<std::uint8_t>(size, 0xEE)),
                  size > kMaxPayload ? "Internal error: HID payload exceeds protocol limit." : "");
        EXPECT_EQ(bus.port.written(),
                  size > kMaxPayload ? std::vector<Report>{} : std::vector<Report>{frame});
        const HidResponse& r = bus.response;
        EXPECT_TRUE(size > kMaxPayload ||
                    (r.hasReportId() == (size == 0) && r.responseStatus() == 7 &&
                     r.headerMatches(kCommand, kSequence) &&
                     !r.headerMatches(kCommand, kSequence + 1) &&
                     r.payloadLength() == answer.size() &&
                     r.payloadLe32(0) == (size ? 0xEEEEEEEE : 0x44332211) &&
                     r.responsePayload(kMaxPayload) == 0));
    }
    Bus bus;
    bus.port.refusesOpen = true;
    EXPECT_THROW(openHidDevice(bus.services, {}), std::runtime_error);
    bus.handle.close();  // fails the way the system fails a write on a closed handle
    EXPECT_THROW(hidExchange(bus.handle, kCommand, kSequence, {}, 1000), HidTransportError);
    EXPECT_THROW(hidReadReport(bus.handle, std::span<std::uint8_t>(), 1000), HidTransportError);
}

// After the request, "<report>@<ms>": A the answer, 8 and 7 its first bytes (no report ID), O the
// answer before, F another command's; r<status>@<ms> a read ending so; w<ms> the write's time,
// w<status><bytes> its end (C, T, E, W, F as in HidIoResult). Time and reads show what was taken.
TEST(HidExchange, TakesTheFirstAnswerWithinTheTimeOutAndNamesEachFailure) {
    const std::tuple<std::string, std::uint32_t, std::string, std::uint64_t, int> cases[] = {
        {"A@20", 1000, "", 20, 1},
        {"8@10 A@50", 1000, "", 10, 1},
        {"7@10 A@50", 1000, "", 50, 2},
        {"O@10 A@50", 1000, "", 50, 2},
        {"F@10 A@50", 1000, "", 50, 2},
        {"", 1000, "transport: Timed out reading HID response.", 1000, 1},
        {"F@0 F@400 F@1000", 1000, "transport: Timed out waiting for HID response.", 1000, 3},
        {"F@400 A@1001", 1000, "transport: Timed out reading HID response.", 1000, 2},
        {"w1001", 1000, "transport: Timed out writing HID report.", 1000, 0},
        {"w1000 A@999", 1000, "", 1999, 1},
        {"w1", 0, "transport: Timed out writing HID report.", 0, 0},
        {"A@0", 0, "transport: Timed out waiting for HID response.", 0, 0},
        {"wE0", 1000, "CreateEvent failed for HID write.", 0, 0},
        {"wF0", 1000, "transport: HID write failed.", 0, 0},
        {"wC64", 1000, "transport: HID write failed.", 0, 0},
        {"wW0", 1000, "transport: Timed out writing HID report.", 0, 0},
        {"rE@5", 1000, "CreateEvent failed for HID read.", 5, 1},
        {"rW@5", 1000, "WaitForSingleObject failed for HID read (error 6).", 5, 1},
        {"rF@5", 1000, "transport: HID read failed (error 6).", 5, 1}};
    const Report bare = responseReport(kCommand, kSequence, 0, {}, false);
    const std::string kinds = "A87OF";
    const Report reports[] = {
        responseReport(kCommand, kSequence), Report(bare.begin(), bare.begin() + 8),
        Report(bare.begin(), bare.begin() + 7), responseReport(kCommand, kSequence - 1),
        responseReport(kCommand + 1, kSequence)};
    const std::string statuses = "CTEWF";
    for (const auto& [script, timeoutMs, failure, waitedMs, reads] : cases) {
        Bus bus;
        auto& reaction = bus.port.onRequest();
        std::istringstream steps(script);
        for (std::string step; steps >> step;) {
            const auto status = [&] { return static_cast<Status>(statuses.find(step[1])); };
            const auto number = [&](std::size_t at) {
                return static_cast<std::uint32_t>(std::stoul(step.substr(at)));
            };
            if (step[0] == 'w' && step[1] <= '9') {
                reaction.writeMs = number(1);
            } else if (step[0] == 'w') {
                reaction.writeEnd = {status(), number(2), "error 6"};
            } else if (step[0] == 'r') {
                reaction.arrivals.push_back({number(3), {}, {status(), 0, "error 6"}});
            } else {
                reaction.reply(reports[kinds.find(step[0])], number(2));
            }
        }
        const std::uint64_t start = bus.clock.tickCount64();
        EXPECT_EQ(bus.exchange(timeoutMs), failure) << script;
        EXPECT_EQ(bus.clock.tickCount64() - start, waitedMs) << script;
        EXPECT_EQ(bus.port.readCount(), reads) << script;
    }
}

}  // namespace
}  // namespace velkora
