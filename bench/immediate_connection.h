#pragma once

// An adapter without latency for the benchmarks: every request is answered with OK as soon as
// it is written, so that what a benchmark measures is the updater's own work.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "hid/report_frame.h"
#include "platform/hid_port.h"

namespace velkora::bench {

class ImmediateConnection final : public platform::HidConnection {
  public:
    struct Options {
        // A report for another command comes before each answer, so the exchange must skip one.
        bool foreignFirst = false;
        // The payload length each answer announces (its payload bytes are zero).
        std::uint8_t payloadLength = 0;
        // When set, counts the DATA_CHUNK requests written.
        std::size_t* chunks = nullptr;
    };

    explicit ImmediateConnection(Options options) : options_(options) {}

    platform::HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t) override {
        constexpr std::uint8_t kDataChunk = 0x05;
        command_ = report[request_offset::kCommand];
        sequence_ = report[request_offset::kSequence];
        foreignPending_ = options_.foreignFirst;
        if (options_.chunks != nullptr && command_ == kDataChunk) {
            ++*options_.chunks;
        }
        return {platform::HidIoResult::Status::Completed,
                static_cast<std::uint32_t>(report.size()),
                {}};
    }

    platform::HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t) override {
        // Answers are read as whole reports, report ID first.
        constexpr std::size_t kBase = 1;
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
        std::copy(kMagic.begin(), kMagic.end(), buffer.begin() + kBase + response_offset::kMagic);
        buffer[kBase + response_offset::kVersion] = kProtocolVersion;
        buffer[kBase + response_offset::kCommand] =
            foreignPending_ ? static_cast<std::uint8_t>(command_ + 1) : command_;
        buffer[kBase + response_offset::kSequence] = sequence_;
        buffer[kBase + response_offset::kPayloadLength] = options_.payloadLength;
        foreignPending_ = false;
        return {platform::HidIoResult::Status::Completed,
                static_cast<std::uint32_t>(buffer.size()),
                {}};
    }

  private:
    Options options_;
    bool foreignPending_ = false;
    std::uint8_t command_ = 0;
    std::uint8_t sequence_ = 0;
};

}  // namespace velkora::bench
