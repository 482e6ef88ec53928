#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "hid/hid_exchange.h"
#include "platform/win32/overlapped_connection.h"
#include "tests/platform/pipe_device.h"
#include "tests/support/scripted_hid_port.h"

// The overlapped reads and writes against a thread that plays the device over a named pipe,
// in real time. Time-outs are short; the tests assert what happens, never how long it took.
namespace velkora {
namespace {

using testing::PipeDevice;
using testing::Report;
using testing::responseReport;
using testing::Signal;

constexpr std::uint8_t kCommand = 0x03;
constexpr std::uint32_t kShortMs = 100;   // for waits that are meant to run out
constexpr std::uint32_t kAmpleMs = 5000;  // for waits that are meant to succeed

Report answerTo(const Report& request, bool withReportId = true) {
    return responseReport(request.at(5), request.at(6), 0, {}, withReportId);
}

// Notes the sequence number of every report the host reads, to show which reads the exchange
// skipped.
class RecordingConnection final : public platform::HidConnection {
  public:
    explicit RecordingConnection(std::unique_ptr<platform::HidConnection> inner)
        : inner_(std::move(inner)) {}
    platform::HidIoResult write(std::span<const std::uint8_t> report,
                                std::uint32_t timeoutMs) override {
        return inner_->write(report, timeoutMs);
    }
    platform::HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) override {
        platform::HidIoResult result = inner_->read(buffer, timeoutMs);
        if (result.status == platform::HidIoResult::Status::Completed) {
            sequencesRead.push_back(buffer[6]);
        }
        return result;
    }
    std::vector<std::uint8_t> sequencesRead;

  private:
    std::unique_ptr<platform::HidConnection> inner_;
};

struct PipeBus {
    explicit PipeBus(DWORD bufferBytes = 4096) : device(bufferBytes) {
        auto connection = std::make_unique<RecordingConnection>(
            platform::win32::makeOverlappedConnection(device.takeHostEnd()));
        recorder = connection.get();
        handle = HidHandle(std::move(connection), platform::systemClock());
    }

    std::string failure(std::uint8_t sequence, std::uint32_t timeoutMs) {
        try {
            hidExchange(handle, kCommand, sequence, {}, timeoutMs);
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "";
    }

    PipeDevice device;  // before the handle: the host end closes first, which frees the device
    HidHandle handle;
    RecordingConnection* recorder = nullptr;
};

TEST(OverlappedConnection, ExchangeTakesTheAnswerInEitherShape) {
    for (const bool withReportId : {true, false}) {
        SCOPED_TRACE(withReportId);
        PipeBus bus;
        Report request;
        bus.device.play([&](PipeDevice& device) {
            request = device.receive();
            device.send(answerTo(request, withReportId));
        });

        const HidResponse response = hidExchange(bus.handle, kCommand, 7, {}, kAmpleMs);
        bus.device.finish();

        EXPECT_EQ(request.size(), kReportSize);
        EXPECT_EQ(response.length, withReportId ? 65u : 64u);
        EXPECT_EQ(response.sequence(), 7);
        EXPECT_TRUE(response.magicMatches());
    }
}

TEST(OverlappedConnection, SilenceTimesOutAndTheHandleStaysUsable) {
    PipeBus bus;
    Report second;
    bus.device.play([&](PipeDevice& device) {
        device.receive();  // and say nothing
        second = device.receive();
        device.send(answerTo(second));
    });

    EXPECT_EQ(bus.failure(1, kShortMs), "Timed out reading HID response.");
    EXPECT_EQ(bus.failure(2, kAmpleMs), "");
    bus.device.finish();
    EXPECT_EQ(second.at(6), 2);
}

// The answer to a request the host gave up on reaches the next read, after the cancelled
// one; the next exchange skips it by its sequence.
TEST(OverlappedConnection, LateAnswerReachesTheNextReadAndIsSkipped) {
    PipeBus bus;
    Signal hostGaveUp;
    bus.device.play([&](PipeDevice& device) {
        const Report first = device.receive();
        hostGaveUp.wait();
        device.send(answerTo(first));
        device.send(answerTo(device.receive()));
    });

    EXPECT_EQ(bus.failure(1, kShortMs), "Timed out reading HID response.");
    hostGaveUp.set();
    EXPECT_EQ(bus.failure(2, kAmpleMs), "");
    bus.device.finish();
    EXPECT_EQ(bus.recorder->sequencesRead, (std::vector<std::uint8_t>{1, 2}));
}

// Without a pipe buffer a write stays pending until the device reads. The cancelled write
// must leave nothing behind: the device's first report is the next request.
TEST(OverlappedConnection, WriteTimesOutWhileTheDeviceDoesNotRead) {
    PipeBus bus(0);
    Signal deviceMayRead;
    Report received;
    bus.device.play([&](PipeDevice& device) {
        deviceMayRead.wait();
        received = device.receive();
        device.send(answerTo(received));
    });

    EXPECT_EQ(bus.failure(1, kShortMs), "Timed out writing HID report.");
    deviceMayRead.set();
    EXPECT_EQ(bus.failure(2, kAmpleMs), "");
    bus.device.finish();
    EXPECT_EQ(received.at(6), 2);
}

TEST(OverlappedConnection, UnpluggedDeviceFailsReadsAndWrites) {
    PipeBus bus;
    bus.device.play([](PipeDevice& device) {
        device.receive();
        device.unplug();
    });

    EXPECT_EQ(bus.failure(1, kAmpleMs), "HID read failed (Windows error 109).");
    bus.device.finish();
    EXPECT_EQ(bus.failure(2, kAmpleMs), "HID write failed.");
}

}  // namespace
}  // namespace velkora
