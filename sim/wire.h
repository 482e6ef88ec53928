#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace velkora::sim {

// The report as the device lays it out, in both directions 65 bytes with the report ID 0 in
// front. Like the codes below it is written out here, on the device's side, and never taken
// from the updater's own definition: a wrong offset or magic in the updater must make the
// tests fail, not be mirrored by the simulator.
//
//   byte    request                 answer
//   0       report ID 0             report ID 0
//   1..3    magic "ZUQ"             magic "ZUQ"
//   4       protocol version 1      protocol version 1
//   5       command                 command of the request answered
//   6       sequence number         sequence number of the request answered
//   7       payload length          status
//   8       reserved                payload length
//   9..64   payload                 payload
namespace frame {
inline constexpr std::size_t kBytes = 65;
inline constexpr std::size_t kMaxPayload = 56;
inline constexpr std::uint8_t kVersion = 1;
inline constexpr std::array<std::uint8_t, 3> kMagic{'Z', 'U', 'Q'};
inline constexpr std::size_t kMagicAt = 1;
inline constexpr std::size_t kVersionAt = 4;
inline constexpr std::size_t kCommandAt = 5;
inline constexpr std::size_t kSequenceAt = 6;
inline constexpr std::size_t kRequestLengthAt = 7;
inline constexpr std::size_t kStatusAt = 7;
inline constexpr std::size_t kAnswerLengthAt = 8;
inline constexpr std::size_t kPayloadAt = 9;
}  // namespace frame

using Report = std::array<std::uint8_t, frame::kBytes>;

// The command codes the simulated adapter answers. They are written out here, on the device's
// side, instead of being taken from the updater's own command tables: a wrong code in the
// updater must make the tests fail, not be mirrored by the simulator.
namespace command {
inline constexpr std::uint8_t kGetInfo = 0x01;
inline constexpr std::uint8_t kGetStatus = 0x02;
inline constexpr std::uint8_t kStartUpdate = 0x03;
inline constexpr std::uint8_t kAbortUpdate = 0x04;
inline constexpr std::uint8_t kDataChunk = 0x05;
inline constexpr std::uint8_t kEndUpdate = 0x06;
inline constexpr std::uint8_t kGetAppInfo = 0x07;
inline constexpr std::uint8_t kStartApp = 0x08;
inline constexpr std::uint8_t kStartAppUsb = 0x09;
inline constexpr std::uint8_t kFaultDump = 0x80;
inline constexpr std::uint8_t kExit = 0x81;
inline constexpr std::uint8_t kClearFaults = 0x82;
inline constexpr std::uint8_t kAppGetInfo = 0x83;
inline constexpr std::uint8_t kGetConfig = 0x84;
inline constexpr std::uint8_t kSetConfigItem = 0x85;
inline constexpr std::uint8_t kStoreConfig = 0x86;
inline constexpr std::uint8_t kResetConfig = 0x87;
}  // namespace command

// Status codes as the device sends them. The application's configuration commands give 6, 7
// and 8 their own meanings (FAILED, BAD_ITEM, BAD_VALUE).
namespace status {
inline constexpr std::uint8_t kOk = 0;
inline constexpr std::uint8_t kBadMagic = 1;
inline constexpr std::uint8_t kUnknownCommand = 2;
inline constexpr std::uint8_t kBadLength = 3;
inline constexpr std::uint8_t kBadVersion = 4;
inline constexpr std::uint8_t kBusy = 5;
inline constexpr std::uint8_t kBadSize = 6;
inline constexpr std::uint8_t kFailed = 6;
inline constexpr std::uint8_t kNotActive = 7;
inline constexpr std::uint8_t kBadItem = 7;
inline constexpr std::uint8_t kOffsetMismatch = 8;
inline constexpr std::uint8_t kBadValue = 8;
inline constexpr std::uint8_t kSizeOverflow = 9;
inline constexpr std::uint8_t kIncomplete = 10;
inline constexpr std::uint8_t kSbsfuError = 14;
inline constexpr std::uint8_t kCompatMismatch = 18;
}  // namespace status

// A request as the device reads it off the wire, before any judgement of its fields.
struct WireRequest {
    bool magicOk = false;
    std::uint8_t version = 0;
    std::uint8_t command = 0;
    std::uint8_t sequence = 0;
    std::uint8_t declaredLength = 0;    // the payload-length byte as sent
    std::vector<std::uint8_t> payload;  // at most 56 bytes, as far as the report holds them
    bool complete = false;              // the report held the whole 65-byte frame
};

WireRequest decodeRequest(std::span<const std::uint8_t> report);

// What the device means to say in one report, before fault injection bends it.
struct WireAnswer {
    std::uint8_t command = 0;
    std::uint8_t sequence = 0;
    std::uint8_t status = 0;
    std::vector<std::uint8_t> payload;  // at most 56 bytes
};

// One report as the host's read will return it: 65 bytes with the report ID, or, when the
// report ID is left off, the same fields one byte earlier in 64 bytes.
struct InputReport {
    Report bytes{};
    std::uint32_t length = frame::kBytes;
};

InputReport encodeAnswer(const WireAnswer& answer);

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value);
std::uint32_t getLe32(std::span<const std::uint8_t> bytes, std::size_t offset);

}  // namespace velkora::sim
