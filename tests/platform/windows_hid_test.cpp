// The Windows HID port. Its overlapped reads and writes run in real time against a thread that
// plays the device at the far end of a message-mode named pipe without a buffer: each message is
// one report, a write stays pending until the other end reads, and time-outs and cancellation
// behave as they do with HID.
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <future>
#include <thread>

#include "hid/hid_exchange.h"
#include "platform/native_string.h"
#include "platform/win32/overlapped_connection.h"
#include "tests/platform/outcome.h"
#include "tests/support/scripted_hid_port.h"

namespace velkora {
namespace {

// A gate that one thread opens and the other waits at, with patience.
struct Gate {
    std::promise<void> promise;
    std::shared_future<void> future = promise.get_future().share();
    void open() { promise.set_value(); }
    void pass() { future.wait_for(std::chrono::seconds(10)); }
};

TEST(OverlappedConnection, TimesOutCancelsAndGoesOnWithoutLosingOrRepeatingAReport) {
    const std::wstring name =
        L"\\\\.\\pipe\\velkora-test-" + std::to_wstring(GetCurrentProcessId());
    // The device end is synchronous: the host end's closing ends any read or write on it.
    HANDLE device = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 0,
                                     0, nullptr);
    HANDLE host = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    DWORD mode = PIPE_READMODE_MESSAGE;
    ASSERT_TRUE(SetNamedPipeHandleState(host, &mode, nullptr, nullptr));
    HidHandle handle(platform::win32::makeOverlappedConnection(host), platform::systemClock());
    const auto receive = [&] {
        testing::Report report(256);
        DWORD got = 0;
        report.resize(ReadFile(device, report.data(), 256, &got, nullptr) ? got : 0);
        return report;
    };
    const auto answer = [&](const testing::Report& request, bool withReportId = true) {
        const testing::Report report =
            testing::responseReport(request.at(5), request.at(6), 0, {}, withReportId);
        DWORD sent = 0;
        WriteFile(device, report.data(), static_cast<DWORD>(report.size()), &sent, nullptr);
    };
    Gate hostGaveUpReading;
    Gate hostGaveUpWriting;
    std::vector<std::uint8_t> received;  // the sequence numbers the device read
    std::size_t firstSize = 0;
    std::thread player([&] {
        const testing::Report first = receive();
        firstSize = first.size();
        answer(first);
        answer(receive(), false);
        const testing::Report unanswered = receive();
        hostGaveUpReading.pass();
        answer(unanswered);
        hostGaveUpWriting.pass();
        for (int i = 0; i < 2; ++i) {
            const testing::Report request = receive();
            received.push_back(request.at(6));
            i == 0 ? answer(request) : (void)CloseHandle(device);  // then unplugged
        }
    });
    HidResponse response;
    const auto exchange = [&](std::uint8_t sequence, std::uint32_t timeoutMs) {
        return testing::outcomeOf(
            [&] { response = hidExchange(handle, 3, sequence, {}, timeoutMs); });
    };
    EXPECT_EQ(exchange(1, 5000), "");
    EXPECT_EQ(response.length, 65u) << "with the report ID";
    EXPECT_EQ(exchange(2, 5000), "");
    EXPECT_EQ(response.length, 64u) << "without";
    EXPECT_EQ(response.sequence(), 2);
    EXPECT_EQ(exchange(3, 100), "Timed out reading HID response.");
    hostGaveUpReading.open();
    std::array<std::uint8_t, kReportSize> late{};
    EXPECT_EQ(hidReadReport(handle, late, 5000), kReportSize) << "the late answer is still read";
    EXPECT_EQ(late[6], 3);
    EXPECT_EQ(exchange(4, 100), "Timed out writing HID report.");
    hostGaveUpWriting.open();
    EXPECT_EQ(exchange(5, 5000), "");
    EXPECT_EQ(exchange(6, 5000), "HID read failed (Windows error 109).");
    EXPECT_EQ(exchange(7, 5000), "HID write failed.");
    handle.close();  // ends the device's wait, should the test have gone wrong
    player.join();
    EXPECT_EQ(firstSize, kReportSize);
    EXPECT_EQ(received, (std::vector<std::uint8_t>{5, 6})) << "the cancelled write left nothing";
}

// USB strings come as UTF-16. A stray surrogate becomes U+FFFD, as the system's conversion makes
// it, instead of emptying the text: an emptied serial number would let the wait for the
// management interface take any adapter's.
TEST(WindowsHidPort, ConvertsUtf16AndFindsNoAdapterUnderWine) {
    EXPECT_EQ(
        platform::toUtf8(L"Ger\u00E4t \u20AC \xD83D\xDD0C a\xD800 \xDC00z") + platform::toUtf8(L""),
        "Ger\xC3\xA4t \xE2\x82\xAC \xF0\x9F\x94\x8C a\xEF\xBF\xBD \xEF\xBF\xBDz");
    EXPECT_EQ(platform::fromUtf8("Ger\xC3\xA4t \xF0\x9F\x94\x8C"), L"Ger\u00E4t \xD83D\xDD0C");
    EXPECT_TRUE(platform::systemHidPort().enumerate().empty());
    EXPECT_EQ(platform::systemHidPort()
                  .open(L"\\\\?\\hid#vid_0483&pid_a5b9#0&0&0&0#{4d1e55b2}")
                  .errorDetail,
              "Windows error 2");
}

}  // namespace
}  // namespace velkora
