#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hid/hid_exchange.h"
#include "tests/support/scripted_hid_port.h"

namespace velkora {
namespace {

using platform::HidIoResult;
using testing::Report;
using testing::responseReport;
using Status = HidIoResult::Status;

constexpr std::uint8_t kCommand = 0x04;
constexpr std::uint8_t kSequence = 0x21;

Report truncated(Report report, std::size_t size) {
    report.resize(size);
    return report;
}

Report received(const HidResponse& response) {
    return Report(response.data.begin(), response.data.begin() + response.length);
}

// A scripted bus with one open handle on it; the handle goes before the port it reads from.
struct Bus {
    HidResponse exchange(std::uint32_t timeoutMs, std::uint8_t sequence = kSequence,
                         const std::vector<std::uint8_t>& payload = {}) {
        return hidExchange(handle, kCommand, sequence, payload, timeoutMs);
    }

    // The message the exchange fails with, or "" when it returns; `transportFailed` tells
    // whether the failure was one of the transport's own.
    std::string failure(std::uint32_t timeoutMs, std::uint8_t sequence = kSequence,
                        const std::vector<std::uint8_t>& payload = {}) {
        transportFailed = false;
        try {
            exchange(timeoutMs, sequence, std::move(payload));
        } catch (const HidTransportError& error) {
            transportFailed = true;
            return error.what();
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "";
    }
    bool transportFailed = false;

    std::uint64_t now() { return clock.tickCount64(); }

    testing::ManualClock clock;
    testing::ScriptedHidPort port{clock};
    HidHandle handle{port.open({}).connection, clock};
};

class HidExchangeTest : public ::testing::Test, public Bus {};

TEST_F(HidExchangeTest, WritesTheFrameAndReturnsTheAnswer) {
    const std::vector<std::uint8_t> payload{0xAA, 0xBB};
    const Report answer = responseReport(kCommand, kSequence, 0, std::vector<std::uint8_t>{9});
    port.onRequest().reply(answer, 20);
    const std::uint64_t start = now();

    const HidResponse response = exchange(1000, kSequence, payload);

    const ReportFrame frame = buildRequestFrame(kCommand, kSequence, payload);
    ASSERT_EQ(port.written().size(), 1u);
    EXPECT_EQ(port.written()[0], Report(frame.begin(), frame.end()));
    EXPECT_EQ(received(response), answer);
    EXPECT_EQ(now() - start, 20u);
}

// Which reports answer a request, and which are skipped while the exchange reads on for the
// answer that follows 50 ms later.
TEST(HidExchange, AnswerNeedsACompleteHeaderWithTheRequestsCommandAndSequence) {
    const Report answer = responseReport(kCommand, kSequence);
    const Report bare = responseReport(kCommand, kSequence, 0, {}, false);
    const struct {
        const char* name;
        Report report;
        bool answers;
    } cases[] = {
        {"65 bytes with report ID", answer, true},
        {"64 bytes without report ID", bare, true},
        {"8 bytes without report ID: the whole header", truncated(bare, 8), true},
        {"7 bytes without report ID: header cut short", truncated(bare, 7), false},
        {"non-zero status, returned all the same", responseReport(kCommand, kSequence, 0x0B), true},
        {"answer to an older sequence", responseReport(kCommand, kSequence - 1), false},
        {"answer to another command", responseReport(kCommand + 1, kSequence), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bus bus;
        bus.port.onRequest().reply(c.report, 10).reply(answer, 50);

        const HidResponse response = bus.exchange(1000);

        EXPECT_EQ(received(response), c.answers ? c.report : answer);
        EXPECT_EQ(bus.port.readCount(), c.answers ? 1 : 2);
    }
}

// The answer to a request that timed out arrives while the next request waits for its own:
// it is read first and skipped, and the right answer is still taken within the time-out.
TEST_F(HidExchangeTest, SkipsALateAnswerToTheRequestBefore) {
    port.onRequest().reply(responseReport(kCommand, kSequence - 1), 1500);
    port.onRequest().reply(responseReport(kCommand, kSequence), 700);

    EXPECT_EQ(failure(1000, kSequence - 1), "Timed out reading HID response.");
    const HidResponse response = exchange(1000);

    EXPECT_EQ(response.sequence(), kSequence);
    EXPECT_EQ(port.readCount(), 3);
}

// The read's own time-out runs out first when nothing arrives; the exchange's when reports
// keep arriving and none answers. The clock shows how long the caller waited.
TEST(HidExchange, TimeOuts) {
    const Report foreign = responseReport(kCommand + 1, kSequence);
    const struct {
        const char* name;
        std::uint32_t timeoutMs;
        std::function<void(testing::ScriptedHidPort&)> script;
        std::string message;
        std::uint64_t waitedMs;
        int reads;
    } cases[] = {
        {"silence", 1000, [](auto&) {}, "Timed out reading HID response.", 1000, 1},
        {"only foreign reports, the last at the deadline", 1000,
         [&](auto& port) {
             port.onRequest().reply(foreign, 0).reply(foreign, 400).reply(foreign, 1000);
         },
         "Timed out waiting for HID response.", 1000, 3},
        {"a foreign report, then silence", 1000,
         [&](auto& port) { port.onRequest().reply(foreign, 400); },
         "Timed out reading HID response.", 1000, 2},
        {"the answer one millisecond too late", 1000,
         [&](auto& port) {
             port.onRequest().reply(foreign, 400).reply(responseReport(kCommand, kSequence), 1001);
         },
         "Timed out reading HID response.", 1000, 2},
        {"write slower than the time-out", 1000,
         [](auto& port) { port.onRequest().writeTakes(1001); }, "Timed out writing HID report.",
         1000, 0},
        {"time-out 0, write pending", 0, [](auto& port) { port.onRequest().writeTakes(1); },
         "Timed out writing HID report.", 0, 0},
        {"time-out 0, write done at once", 0,
         [&](auto& port) { port.onRequest().reply(responseReport(kCommand, kSequence), 0); },
         "Timed out waiting for HID response.", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bus bus;
        c.script(bus.port);
        const std::uint64_t start = bus.now();

        EXPECT_EQ(bus.failure(c.timeoutMs), c.message);
        EXPECT_TRUE(bus.transportFailed);
        EXPECT_EQ(bus.now() - start, c.waitedMs);
        EXPECT_EQ(bus.port.readCount(), c.reads);
    }
}

// Elapsed time is a 32-bit difference: a wrap of the tick counter between the foreign report
// and the answer must neither end the wait early nor stretch it.
TEST(HidExchange, TickCounterWrapsDuringTheExchange) {
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered);
        Bus bus;
        bus.clock.setTicks((std::uint64_t{1} << 32) - 300);
        auto& reaction = bus.port.onRequest().reply(responseReport(kCommand + 1, kSequence), 400);
        if (answered) {
            reaction.reply(responseReport(kCommand, kSequence), 600);
        }
        const std::uint64_t start = bus.now();

        EXPECT_EQ(bus.failure(1000), answered ? "" : "Timed out reading HID response.");
        EXPECT_EQ(bus.now() - start, answered ? 600u : 1000u);
    }
}

// How each failure of the platform reads to the user, and which of them are the transport's
// own: a lost or silent adapter, which configuration mode reports as a lost connection. A
// wait object that cannot be made is the computer's trouble, not the connection's.
TEST(HidExchange, PlatformFailuresBecomeTheTransportsMessages) {
    using Script = std::function<void(testing::ScriptedHidPort::Reaction&)>;
    const struct {
        const char* name;
        Script script;
        std::string message;
        bool transport = true;
    } cases[] = {
        {"write event",
         [](auto& r) {
             r.writeEnds({Status::EventFailed, 0, {}});
         },
         "CreateEvent failed for HID write.", false},
        {"write refused",
         [](auto& r) {
             r.writeEnds({Status::Failed, 0, "Windows error 31"});
         },
         "HID write failed."},
        {"short write",
         [](auto& r) {
             r.writeEnds({Status::Completed, 64, {}});
         },
         "HID write failed."},
        {"write wait failed",
         [](auto& r) {
             r.writeEnds({Status::WaitFailed, 0, "Windows error 6"});
         },
         "Timed out writing HID report."},
        {"read event",
         [](auto& r) {
             r.failRead({Status::EventFailed, 0, {}});
         },
         "CreateEvent failed for HID read.", false},
        {"read wait failed",
         [](auto& r) {
             r.failRead({Status::WaitFailed, 0, "Windows error 6"});
         },
         "WaitForSingleObject failed for HID read (Windows error 6).", false},
        {"read failed on Windows",
         [](auto& r) {
             r.failRead({Status::Failed, 0, "Windows error 1167"}, 5);
         },
         "HID read failed (Windows error 1167)."},
        {"read failed on Linux",
         [](auto& r) {
             r.failRead({Status::Failed, 0, "errno 19"});
         },
         "HID read failed (errno 19)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Bus bus;
        c.script(bus.port.onRequest());
        EXPECT_EQ(bus.failure(3000), c.message);
        EXPECT_EQ(bus.transportFailed, c.transport);
    }
}

TEST_F(HidExchangeTest, OversizedPayloadIsRefusedBeforeAnythingIsWritten) {
    EXPECT_EQ(failure(1000, kSequence, std::vector<std::uint8_t>(kMaxPayload + 1)),
              "Internal error: HID payload exceeds protocol limit.");
    EXPECT_TRUE(port.written().empty());
}

TEST_F(HidExchangeTest, ClosedHandleFailsLikeTheSystemWould) {
    handle.close();
    handle.close();
    EXPECT_EQ(port.openConnections(), 0);
    EXPECT_EQ(failure(1000), "HID write failed.");
    EXPECT_TRUE(transportFailed);
    std::array<std::uint8_t, kReportSize> buffer{};
    EXPECT_THROW(hidReadReport(handle, buffer, 1000), HidTransportError);
}

}  // namespace
}  // namespace velkora
