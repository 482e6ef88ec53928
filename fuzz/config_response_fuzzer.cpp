// Feeds arbitrary reports to the configuration protocol's decoding: GET_CONFIG is sent over an
// in-memory HID connection whose reads return the fuzzer's reports, so that the real exchange,
// the shared response check and the snapshot decoding all run; the shared check is also called
// directly on each report with an arbitrary expected payload length. Besides crashes and
// sanitizer findings it checks what must hold for any answer: a snapshot only comes from a
// well-formed answer and holds exactly the items it lists, every failure is one of the fixed
// messages, and the sequence counter moves on by exactly one.
//
// Input layout:
//   byte 0     flags: bit 0 stamps a matching header (magic, version 1, GET_CONFIG and the
//              request's sequence) into every report at the offset its length implies, so
//              that most inputs reach the payload checks; bits 1 to 6 are the expected payload
//              length for the direct check
//   byte 1     the sequence counter before the request
//   then up to four reports, each a length byte (the count the read reports; above 65 it
//   claims more than the buffer holds) followed by up to 65 bytes, zero-filled at the end of
//   the input

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/config_protocol.h"
#include "hid/hid_device.h"
#include "hid/hid_exchange.h"
#include "platform/clock.h"
#include "platform/hid_port.h"

namespace {

using velkora::HidResponse;
using velkora::ReportFrame;

constexpr std::uint8_t kGetConfig = 0x84;
constexpr std::size_t kMaxReports = 4;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

struct FuzzReport {
    ReportFrame bytes{};
    std::uint32_t length = 0;  // as the read reports it
};

// Reads return the reports in order, then time out, as a device that has nothing more to say.
class ReplayConnection final : public velkora::platform::HidConnection {
  public:
    explicit ReplayConnection(std::vector<FuzzReport> reports) : reports_(std::move(reports)) {}

    velkora::platform::HidIoResult write(std::span<const std::uint8_t> report,
                                         std::uint32_t) override {
        written_.emplace_back(report.begin(), report.end());
        return {velkora::platform::HidIoResult::Status::Completed,
                static_cast<std::uint32_t>(report.size()),
                {}};
    }

    velkora::platform::HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t) override {
        if (next_ == reports_.size()) {
            return {velkora::platform::HidIoResult::Status::TimedOut, 0, {}};
        }
        const FuzzReport& report = reports_[next_++];
        std::copy_n(report.bytes.begin(), std::min(buffer.size(), report.bytes.size()),
                    buffer.begin());
        return {velkora::platform::HidIoResult::Status::Completed, report.length, {}};
    }

    const std::vector<std::vector<std::uint8_t>>& written() const { return written_; }

  private:
    std::vector<FuzzReport> reports_;
    std::size_t next_ = 0;
    std::vector<std::vector<std::uint8_t>> written_;
};

// Time stands still: the exchange ends when the reports run out, not by its clock.
class StillClock final : public velkora::platform::Clock {
  public:
    std::uint32_t tickCount32() override { return 1000; }
    std::uint64_t tickCount64() override { return 1000; }
    void sleepMs(std::uint32_t) override {}
    std::time_t calendarTime() override { return 0; }
};

HidResponse asResponse(const FuzzReport& report) {
    HidResponse response;
    response.data = report.bytes;
    response.length = std::min<std::uint32_t>(report.length, velkora::kReportSize);
    return response;
}

// The first report that the exchange takes as the answer: a complete header that echoes the
// command and the sequence.
const FuzzReport* answerAmong(const std::vector<FuzzReport>& reports, std::uint8_t sequence) {
    for (const FuzzReport& report : reports) {
        const HidResponse response = asResponse(report);
        if (response.headerComplete() && response.command() == kGetConfig &&
            response.sequence() == sequence) {
            return &report;
        }
    }
    return nullptr;
}

void stampHeader(FuzzReport& report, std::uint8_t sequence) {
    const std::size_t base = report.length == velkora::kReportSize ? 1 : 0;
    std::copy(velkora::kMagic.begin(), velkora::kMagic.end(), report.bytes.begin() + base);
    report.bytes[base + 3] = velkora::kProtocolVersion;
    report.bytes[base + 4] = kGetConfig;
    report.bytes[base + 5] = sequence;
}

const std::set<std::string>& sharedCheckMessages() {
    static const std::set<std::string> messages{
        "Configuration command returned an invalid HID report ID.",
        "Configuration command returned an invalid HID report size.",
        "Configuration command returned an invalid application HID response.",
        "Configuration command returned an invalid response payload length."};
    return messages;
}

// A snapshot comes only from an answer that passes every check, and holds exactly its pairs.
void checkSnapshot(const velkora::ConfigSnapshot& snapshot, const FuzzReport* answer) {
    require(answer != nullptr);
    const HidResponse response = asResponse(*answer);
    require(response.length == 64 || response.length == 65);
    require(!response.hasReportId() || response.data[0] == 0);
    require(response.magicMatches() && response.version() == 1);
    require(response.responseStatus() == 0);
    const std::size_t count = response.responsePayload(1);
    require(response.responsePayload(0) == 1 && count <= 9);
    require(response.payloadLength() == 2 + 2 * count);
    velkora::ConfigSnapshot listed{};
    for (std::size_t pair = 0; pair < count; ++pair) {
        const std::uint8_t id = response.responsePayload(2 + 2 * pair);
        const std::uint8_t value = response.responsePayload(3 + 2 * pair);
        require(id >= 1 && id <= 9 && !listed[id - 1u].has_value());
        require(value < velkora::configItem(id).valueCount);
        listed[id - 1u] = value;
    }
    require(snapshot == listed);
}

// A failure is one of the fixed messages, and a status failure names the answer's status.
void checkFailure(const std::string& message, const FuzzReport* answer) {
    static const std::set<std::string> decoding{
        "Timed out reading HID response.",
        "GET_CONFIG returned an invalid HID report size.",
        "GET_CONFIG returned an unsupported configuration wire format.",
        "GET_CONFIG returned an invalid item count or payload length.",
        "GET_CONFIG returned an unknown or duplicate item ID.",
        "GET_CONFIG returned an invalid item value."};
    const std::string statusPrefix = "GET_CONFIG failed: ";
    if (message.starts_with(statusPrefix)) {
        require(answer != nullptr);
        const HidResponse response = asResponse(*answer);
        require(response.responseStatus() != 0 && response.payloadLength() == 0);
        require(message.substr(statusPrefix.size()) ==
                velkora::configStatusName(response.responseStatus()));
        return;
    }
    require(decoding.contains(message) || sharedCheckMessages().contains(message));
    require((message == "Timed out reading HID response.") == (answer == nullptr));
}

void checkSharedCheckDirectly(const FuzzReport& report, std::uint8_t sequence,
                              std::size_t expectedLength) {
    const HidResponse response = asResponse(report);
    try {
        const std::uint8_t status =
            velkora::checkConfigResponse(response, kGetConfig, sequence, expectedLength);
        require(status == response.responseStatus());
        require(response.length == 64 || response.length == 65);
        require(response.command() == kGetConfig && response.sequence() == sequence);
        require(response.payloadLength() == (status == 0 ? expectedLength : 0u));
    } catch (const std::runtime_error& error) {
        require(sharedCheckMessages().contains(error.what()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const bool stamp = (data[0] & 1) != 0;
    const std::size_t expectedLength = (data[0] >> 1) & 0x3F;
    const std::uint8_t sequence = data[1];

    std::vector<FuzzReport> reports;
    for (std::size_t at = 2; at < size && reports.size() < kMaxReports;) {
        FuzzReport report;
        report.length = data[at++];
        const std::size_t take = std::min(size - at, velkora::kReportSize);
        std::copy_n(data + at, take, report.bytes.begin());
        at += take;
        if (stamp) {
            stampHeader(report, sequence);
        }
        reports.push_back(report);
    }

    for (const FuzzReport& report : reports) {
        checkSharedCheckDirectly(report, sequence, expectedLength);
    }

    auto connection = std::make_unique<ReplayConnection>(reports);
    const ReplayConnection& replay = *connection;
    StillClock clock;
    velkora::HidHandle handle(std::move(connection), clock);
    std::uint8_t counter = sequence;
    const FuzzReport* answer = answerAmong(reports, sequence);
    try {
        checkSnapshot(velkora::readConfigSnapshot(handle, counter), answer);
    } catch (const std::runtime_error& error) {
        checkFailure(error.what(), answer);
    }
    require(counter == static_cast<std::uint8_t>(sequence + 1));
    require(replay.written().size() == 1);
    const std::vector<std::uint8_t>& request = replay.written().front();
    require(request.size() == velkora::kReportSize && request[5] == kGetConfig &&
            request[6] == sequence && request[7] == 0);
    return 0;
}
