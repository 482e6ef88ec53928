#pragma once

#include <cstdint>
#include <span>

#include "hid/hid_device.h"
#include "hid/report_frame.h"

namespace velkora {

// One received report: the bytes read, zero-filled beyond the end of the read, and their
// count. Its accessors apply the base offset: fields stand one byte later when the read
// returned all 65 bytes (report ID first) than when it returned fewer.
struct HidResponse {
    ReportFrame data{};
    std::uint32_t length = 0;

    bool hasReportId() const { return length == kReportSize; }
    std::size_t base() const { return hasReportId() ? 1 : 0; }

    // The response byte at `offset` from the base; 0 past the end of the frame.
    std::uint8_t at(std::size_t offset) const {
        const std::size_t index = base() + offset;
        return index < data.size() ? data[index] : 0;
    }

    // True when the read returned the whole header: 9 bytes with report ID, 8 without.
    bool headerComplete() const { return length >= (hasReportId() ? 9u : 8u); }

    bool magicMatches() const {
        return at(response_offset::kMagic) == kMagic[0] &&
               at(response_offset::kMagic + 1) == kMagic[1] &&
               at(response_offset::kMagic + 2) == kMagic[2];
    }
    std::uint8_t version() const { return at(response_offset::kVersion); }
    std::uint8_t command() const { return at(response_offset::kCommand); }
    std::uint8_t sequence() const { return at(response_offset::kSequence); }
    std::uint8_t responseStatus() const { return at(response_offset::kStatus); }
    std::uint8_t payloadLength() const { return at(response_offset::kPayloadLength); }
    std::uint8_t responsePayload(std::size_t index) const {
        return at(response_offset::kPayload + index);
    }
};

// Sends one request and returns the first report that answers it: one whose command and
// sequence echo the request. Other reports (late answers to earlier requests, for example)
// are skipped within the same time-out. The status is not looked at; the caller decides.
// Fails with a runtime error: "Internal error: HID payload exceeds protocol limit.",
// "CreateEvent failed for HID write.", "Timed out writing HID report.", "HID write failed.",
// "Timed out waiting for HID response.", or a failure of hidReadReport.
HidResponse hidExchange(HidHandle& handle, std::uint8_t command, std::uint8_t sequence,
                        std::span<const std::uint8_t> payload, std::uint32_t timeoutMs);

// Reads one report into the buffer within the time-out and returns the number of bytes read.
// Fails with "Timed out reading HID response.", "CreateEvent failed for HID read.",
// "WaitForSingleObject failed for HID read (<error>).", or "HID read failed (<error>).", the
// last also for a handle that has been closed.
std::uint32_t hidReadReport(HidHandle& handle, std::span<std::uint8_t> buffer,
                            std::uint32_t timeoutMs);

}  // namespace velkora
