#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace velkora {

// The one wire format of the adapter, in both identities: 65-byte HID reports.
//
//   offset  request                 response
//   0       report ID 0             report ID 0 (only when the read returned 65 bytes)
//   1..3    magic "ZUQ"             magic, echoed
//   4       protocol version 1      protocol version
//   5       command code            command code of the request answered
//   6       sequence number         sequence number of the request answered
//   7       payload length 0..56    status code (0 = success)
//   8       reserved 0              payload length
//   9..64   payload, zero-filled    payload
//
// A read that returns fewer than 65 bytes has no report ID: every response field then stands
// one byte earlier.
inline constexpr std::size_t kReportSize = 65;
inline constexpr std::size_t kMaxPayload = 56;
inline constexpr std::uint8_t kReportId = 0;
inline constexpr std::uint8_t kProtocolVersion = 1;
inline constexpr std::array<std::uint8_t, 3> kMagic{0x5A, 0x55, 0x51};  // "ZUQ"

// Offsets of the request frame.
namespace request_offset {
inline constexpr std::size_t kReportId = 0;
inline constexpr std::size_t kMagic = 1;
inline constexpr std::size_t kVersion = 4;
inline constexpr std::size_t kCommand = 5;
inline constexpr std::size_t kSequence = 6;
inline constexpr std::size_t kPayloadLength = 7;
inline constexpr std::size_t kReserved = 8;
inline constexpr std::size_t kPayload = 9;
}  // namespace request_offset

// Offsets of the response fields counted from the base: 1 after a 65-byte read (the report ID
// comes first), 0 after a shorter one.
namespace response_offset {
inline constexpr std::size_t kMagic = 0;
inline constexpr std::size_t kVersion = 3;
inline constexpr std::size_t kCommand = 4;
inline constexpr std::size_t kSequence = 5;
inline constexpr std::size_t kStatus = 6;
inline constexpr std::size_t kPayloadLength = 7;
inline constexpr std::size_t kPayload = 8;
}  // namespace response_offset

using ReportFrame = std::array<std::uint8_t, kReportSize>;

// Writes the value into four bytes at `offset`, least significant first, as every multi-byte
// payload field travels.
inline void writeLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// Builds a request. The payload must hold at most kMaxPayload bytes; the caller checks.
ReportFrame buildRequestFrame(std::uint8_t command, std::uint8_t sequence,
                              std::span<const std::uint8_t> payload);

}  // namespace velkora
