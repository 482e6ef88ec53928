#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>

#include "hid/hid_device.h"
#include "hid/report_frame.h"

namespace velkora {

// The transport failed: a report could not be written, the read failed or nothing came back
// in time. The adapter stopped answering or went away; callers that must tell a lost
// connection from a refused command or a malformed answer catch this type.
class HidTransportError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

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

    // The magic, the protocol version, and the command and sequence number of the request.
    bool headerMatches(std::uint8_t requestCommand, std::uint8_t requestSequence) const {
        return magicMatches() && version() == kProtocolVersion && command() == requestCommand &&
               sequence() == requestSequence;
    }
    std::uint8_t version() const { return at(response_offset::kVersion); }
    std::uint8_t command() const { return at(response_offset::kCommand); }
    std::uint8_t sequence() const { return at(response_offset::kSequence); }
    std::uint8_t responseStatus() const { return at(response_offset::kStatus); }
    std::uint8_t payloadLength() const { return at(response_offset::kPayloadLength); }
    std::uint8_t responsePayload(std::size_t index) const {
        return at(response_offset::kPayload + index);
    }

    // The little-endian 32-bit payload field at `index`.
    std::uint32_t payloadLe32(std::size_t index) const {
        return static_cast<std::uint32_t>(responsePayload(index)) |
               static_cast<std::uint32_t>(responsePayload(index + 1)) << 8 |
               static_cast<std::uint32_t>(responsePayload(index + 2)) << 16 |
               static_cast<std::uint32_t>(responsePayload(index + 3)) << 24;
    }
};

// Takes the counter's current value for a request and moves the counter on; 255 wraps to 0.
// Each identity's owner keeps one counter for all its requests.
inline std::uint8_t takeSequence(std::uint8_t& counter) {
    const std::uint8_t sequence = counter;
    counter = static_cast<std::uint8_t>(counter + 1);
    return sequence;
}

// Sends one request and returns the first report that answers it: one whose command and
// sequence echo the request. Other reports (late answers to earlier requests, for example)
// are skipped within the same time-out. The status is not looked at; the caller decides.
// Fails with a runtime error "Internal error: HID payload exceeds protocol limit." or
// "CreateEvent failed for HID write.", with a HidTransportError "Timed out writing HID
// report.", "HID write failed." or "Timed out waiting for HID response.", or with a failure of
// hidReadReport.
HidResponse hidExchange(HidHandle& handle, std::uint8_t command, std::uint8_t sequence,
                        std::span<const std::uint8_t> payload, std::uint32_t timeoutMs);

// Reads one report into the buffer within the time-out and returns the number of bytes read.
// A read that finds the system's queue of input reports overflowed counts on the handle
// (queueOverflows).
// Fails with a runtime error "CreateEvent failed for HID read." or "WaitForSingleObject failed
// for HID read (<error>).", or with a HidTransportError "Timed out reading HID response." or
// "HID read failed (<error>).", the last also for a handle that has been closed.
std::uint32_t hidReadReport(HidHandle& handle, std::span<std::uint8_t> buffer,
                            std::uint32_t timeoutMs);

}  // namespace velkora
