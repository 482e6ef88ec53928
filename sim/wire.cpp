#include "sim/wire.h"

#include <algorithm>

namespace velkora::sim {

WireRequest decodeRequest(std::span<const std::uint8_t> report) {
    WireRequest request;
    auto byteAt = [&](std::size_t index) -> std::uint8_t {
        return index < report.size() ? report[index] : 0;
    };
    request.complete = report.size() >= frame::kBytes;
    request.magicOk = byteAt(frame::kMagicAt) == frame::kMagic[0] &&
                      byteAt(frame::kMagicAt + 1) == frame::kMagic[1] &&
                      byteAt(frame::kMagicAt + 2) == frame::kMagic[2];
    request.version = byteAt(frame::kVersionAt);
    request.command = byteAt(frame::kCommandAt);
    request.sequence = byteAt(frame::kSequenceAt);
    request.declaredLength = byteAt(frame::kRequestLengthAt);
    const std::size_t available =
        report.size() > frame::kPayloadAt ? report.size() - frame::kPayloadAt : 0;
    const std::size_t length =
        std::min<std::size_t>({request.declaredLength, frame::kMaxPayload, available});
    request.payload.assign(
        report.begin() + static_cast<std::ptrdiff_t>(frame::kPayloadAt),
        report.begin() + static_cast<std::ptrdiff_t>(frame::kPayloadAt + length));
    return request;
}

InputReport encodeAnswer(const WireAnswer& answer) {
    InputReport report;
    Report& bytes = report.bytes;
    std::copy(frame::kMagic.begin(), frame::kMagic.end(), bytes.begin() + frame::kMagicAt);
    bytes[frame::kVersionAt] = frame::kVersion;
    bytes[frame::kCommandAt] = answer.command;
    bytes[frame::kSequenceAt] = answer.sequence;
    bytes[frame::kStatusAt] = answer.status;
    const std::size_t length = std::min(answer.payload.size(), frame::kMaxPayload);
    bytes[frame::kAnswerLengthAt] = static_cast<std::uint8_t>(length);
    std::copy_n(answer.payload.begin(), length, bytes.begin() + frame::kPayloadAt);
    return report;
}

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::uint32_t getLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && offset + i < bytes.size(); ++i) {
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return value;
}

}  // namespace velkora::sim
