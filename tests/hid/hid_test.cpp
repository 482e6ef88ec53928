#include <gtest/gtest.h>

#include <array>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "hid/hid_exchange.h"
#include "tests/platform/outcome.h"
#include "tests/support/scripted_hid_port.h"

namespace velkora {
namespace {

using platform::HidIoResult;
using testing::Report;
using testing::responseReport;
using Status = HidIoResult::Status;

constexpr std::uint8_t kCommand = 0x04;
constexpr std::uint8_t kSequence = 0x21;

// A scripted bus with one open handle on it; the handle goes before the port it reads from.
struct Bus {
    // "" when the exchange returns, else its message, marked when the failure is one of the
    // transport's own: a lost or silent adapter, which callers tell from the computer's trouble.
    std::string exchange(std::uint32_t timeoutMs, const std::vector<std::uint8_t>& payload = {},
                         std::uint8_t sequence = kSequence) {
        try {
            response = hidExchange(handle, kCommand, sequence, payload, timeoutMs);
        } catch (const HidTransportError& error) {
            return std::string("transport: ") + error.what();
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "";
    }

    testing::ManualClock clock;
    testing::ScriptedHidPort port{clock};
    HidHandle handle{port.open({}).connection, clock};
    HidResponse response;
};

TEST(HidExchange, WritesOneFrameOfHeaderPayloadAndZeros) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{2}, kMaxPayload, kMaxPayload + 1}) {
        Bus bus;
        std::vector<std::uint8_t> payload(size);
        for (std::size_t i = 0; i < size; ++i) {
            payload[i] = static_cast<std::uint8_t>(0xA0 + i);
        }
        bus.port.onRequest().reply(responseReport(kCommand, kSequence));
        Report frame{0, 'Z', 'U', 'Q', 1, kCommand, kSequence, static_cast<std::uint8_t>(size), 0};
        frame.insert(frame.end(), payload.begin(), payload.end());
        frame.resize(kReportSize);
        if (size <= kMaxPayload) {
            EXPECT_EQ(bus.exchange(1000, payload), "");
            EXPECT_EQ(bus.port.written(), std::vector<Report>{frame});
        } else {
            EXPECT_EQ(bus.exchange(1000, payload),
                      "Internal error: HID payload exceeds protocol limit.");
            EXPECT_TRUE(bus.port.written().empty());
        }
    }
}

// Windows returns the report ID with the report, hidraw does not: the same response decodes to
// the same fields from both shapes, and nothing is read beyond the frame.
TEST(HidResponse, DecodesTheSameFieldsWithAndWithoutReportId) {
    std::vector<std::uint8_t> payload(kMaxPayload, 0xEE);
    writeLe32(payload, 0, 0x44332211);
    for (const bool withReportId : {true, false}) {
        const Report report = responseReport(0x83, 0x42, 7, payload, withReportId);
        HidResponse response;
        std::copy(report.begin(), report.end(), response.data.begin());
        response.length = static_cast<std::uint32_t>(report.size());

        EXPECT_EQ(response.hasReportId(), withReportId);
        EXPECT_TRUE(response.headerMatches(0x83, 0x42));
        EXPECT_FALSE(response.headerMatches(0x84, 0x42) || response.headerMatches(0x83, 0x43));
        EXPECT_EQ(response.responseStatus(), 7);
        EXPECT_EQ(response.payloadLength(), kMaxPayload);
        EXPECT_EQ(response.payloadLe32(0), 0x44332211u);
        EXPECT_EQ(response.responsePayload(kMaxPayload - 1), 0xEE);
        EXPECT_EQ(response.responsePayload(kMaxPayload), 0);
        for (const std::size_t field : {0u, 2u, 3u}) {  // magic and protocol version
            HidResponse altered = response;
            ++altered.data[response.base() + field];
            EXPECT_FALSE(altered.headerMatches(0x83, 0x42)) << field;
        }
    }
    std::uint8_t counter = 255;
    EXPECT_EQ(takeSequence(counter), 255);
    EXPECT_EQ(counter, 0);
}

// What arrives after the request, as "<report>@<ms after the write>": A the answer, B the answer
// without report ID (64 bytes), 8 and 7 its first bytes only, S the answer with a non-zero
// status, M with a wrong magic, O the answer to the sequence before, F another command's. A
// leading "w<ms>" is how long the write takes. The clock and the number of reads show which
// report was taken, and how long the caller waited.
TEST(HidExchange, TakesTheFirstAnswerAndSkipsOtherReportsWithinTheTimeOut) {
    const std::string readTimedOut = "transport: Timed out reading HID response.";
    const std::string noAnswer = "transport: Timed out waiting for HID response.";
    const std::string writeTimedOut = "transport: Timed out writing HID report.";
    const struct {
        std::string script;
        std::uint32_t timeoutMs;
        std::string failure;
        std::uint64_t waitedMs;
        int reads;
    } cases[] = {{"A@20", 1000, "", 20, 1},
                 {"B@10 A@50", 1000, "", 10, 1},
                 {"8@10 A@50", 1000, "", 10, 1},
                 {"7@10 A@50", 1000, "", 50, 2},
                 {"S@10 A@50", 1000, "", 10, 1},
                 {"M@10 A@50", 1000, "", 10, 1},
                 {"O@10 A@50", 1000, "", 50, 2},
                 {"F@10 A@50", 1000, "", 50, 2},
                 {"", 1000, readTimedOut, 1000, 1},
                 {"F@0 F@400 F@1000", 1000, noAnswer, 1000, 3},
                 {"F@400", 1000, readTimedOut, 1000, 2},
                 {"F@400 A@1001", 1000, readTimedOut, 1000, 2},
                 {"w1001", 1000, writeTimedOut, 1000, 0},
                 {"w1000 A@999", 1000, "", 1999, 1},
                 {"w1", 0, writeTimedOut, 0, 0},
                 {"A@0", 0, noAnswer, 0, 0}};
    const Report answer = responseReport(kCommand, kSequence);
    Report bare = responseReport(kCommand, kSequence, 0, {}, false);
    Report wrongMagic = answer;
    wrongMagic[1] = 'X';
    const std::string kinds = "AB87SMOF";
    const Report reports[] = {answer,
                              bare,
                              Report(bare.begin(), bare.begin() + 8),
                              Report(bare.begin(), bare.begin() + 7),
                              responseReport(kCommand, kSequence, 0x0B),
                              wrongMagic,
                              responseReport(kCommand, kSequence - 1),
                              responseReport(kCommand + 1, kSequence)};
    for (const auto& c : cases) {
        Bus bus;
        auto& reaction = bus.port.onRequest();
        std::istringstream script(c.script);
        for (std::string step; script >> step;) {
            if (step[0] == 'w') {
                reaction.writeTakes(static_cast<std::uint32_t>(std::stoul(step.substr(1))));
            } else {
                reaction.reply(reports[kinds.find(step[0])],
                               static_cast<std::uint32_t>(std::stoul(step.substr(2))));
            }
        }
        const std::uint64_t start = bus.clock.tickCount64();
        EXPECT_EQ(bus.exchange(c.timeoutMs), c.failure) << c.script;
        EXPECT_EQ(bus.clock.tickCount64() - start, c.waitedMs) << c.script;
        EXPECT_EQ(bus.port.readCount(), c.reads) << c.script;
    }
}

// The answer to a request that timed out arrives while the next request waits for its own: it
// is read first and skipped, and the right answer is still taken within the time-out. The
// elapsed time is a 32-bit difference that survives the tick counter's wrap meanwhile.
TEST(HidExchange, SkipsALateAnswerAcrossAWrapOfTheTickCounter) {
    Bus bus;
    bus.clock.setTicks((std::uint64_t{1} << 32) - 1500);
    bus.port.onRequest().reply(responseReport(kCommand, kSequence - 1), 1500);
    bus.port.onRequest().reply(responseReport(kCommand, kSequence), 999);
    bus.port.onRequest().reply(responseReport(kCommand, kSequence - 1), 200);
    EXPECT_EQ(bus.exchange(1000, {}, kSequence - 1), "transport: Timed out reading HID response.");
    EXPECT_EQ(bus.exchange(1000), "");
    EXPECT_EQ(bus.response.sequence(), kSequence);
    EXPECT_EQ(bus.port.readCount(), 3);
    const std::uint64_t start = bus.clock.tickCount64();
    EXPECT_EQ(bus.exchange(1000), "transport: Timed out reading HID response.");
    EXPECT_EQ(bus.clock.tickCount64() - start, 1000u);
}

// How each failure of the platform reads to the user. A wait object that cannot be made is the
// computer's trouble, not the connection's.
TEST(HidExchange, PlatformFailuresBecomeTheTransportsMessages) {
    const struct {
        bool write;
        HidIoResult result;
        std::string failure;
    } cases[] = {
        {true, {Status::EventFailed, 0, ""}, "CreateEvent failed for HID write."},
        {true, {Status::Failed, 0, "Windows error 31"}, "transport: HID write failed."},
        {true, {Status::Completed, 64, ""}, "transport: HID write failed."},
        {true, {Status::Completed, 66, ""}, "transport: HID write failed."},
        {true,
         {Status::WaitFailed, 0, "Windows error 6"},
         "transport: Timed out writing HID report."},
        {true, {Status::TimedOut, 0, ""}, "transport: Timed out writing HID report."},
        {false, {Status::EventFailed, 0, ""}, "CreateEvent failed for HID read."},
        {false,
         {Status::WaitFailed, 0, "Windows error 6"},
         "WaitForSingleObject failed for HID read (Windows error 6)."},
        {false, {Status::Failed, 0, "errno 19"}, "transport: HID read failed (errno 19)."},
        {false, {Status::TimedOut, 0, ""}, "transport: Timed out reading HID response."},
    };
    for (const auto& c : cases) {
        Bus bus;
        c.write ? bus.port.onRequest().writeEnds(c.result)
                : bus.port.onRequest().failRead(c.result, 5);
        EXPECT_EQ(bus.exchange(3000), c.failure);
    }
}

TEST(HidDevice, OpensAndClosesAndTellsTheManagementInterfaceByItsExactProductString) {
    testing::FakeServices fake(".");
    testing::ScriptedHidPort port{fake.clock};
    platform::Services services{fake.clock, port, fake.keys, fake.host, std::cin, std::cout};
    port.devices.resize(2);
    port.devices[1].product = "Velkora Management Interface";
    std::vector<HidDeviceInfo> devices = enumerateHidDevices(services);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_FALSE(isManagementInterface(devices[0])) << "strings that could not be read";
    EXPECT_TRUE(isManagementInterface(devices[1]));
    for (const char* product : {"velkora management interface", "Velkora Management Interface ",
                                "Velkora Management", "Velkora Bootloader"}) {
        devices[0].product = product;
        EXPECT_FALSE(isManagementInterface(devices[0])) << product;
    }

    HidHandle handle = openHidDevice(services, devices[1].path);
    EXPECT_EQ(&handle.clock(), &fake.clock);
    EXPECT_EQ(port.openConnections(), 1);
    handle.close();
    handle.close();
    EXPECT_EQ(port.openConnections(), 0);
    // A closed handle fails the way the system fails a write on one.
    std::array<std::uint8_t, kReportSize> buffer{};
    EXPECT_THROW(hidExchange(handle, kCommand, kSequence, {}, 1000), HidTransportError);
    EXPECT_THROW(hidReadReport(handle, buffer, 1000), HidTransportError);
    EXPECT_TRUE(port.written().empty());

    port.openError = "Windows error 2";
    EXPECT_EQ(testing::outcomeOf([&] { openHidDevice(services, devices[0].path); }),
              "Unable to open HID device. Windows error 2");
}

}  // namespace
}  // namespace velkora
