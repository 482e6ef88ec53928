#include "sim/wire.h"

#include <algorithm>

namespace velkora::sim {

WireRequest decodeRequest(std::span<const std::uint8_t> report) {
    WireRequest request;
    auto byteAt = [&](std::size_t index) -> std::uint8_t {
        return index < report.size() ? report[index] : 0;
    };
    request.complete = report.size() >= kReportSize;
    request.magicOk = byteAt(request_offset::kMagic) == kMagic[0] &&
                      byteAt(request_offset::kMagic + 1) == kMagic[1] &&
                      byteAt(request_offset::kMagic + 2) == kMagic[2];
    request.version = byteAt(request_offset::kVersion);
    request.command = byteAt(request_offset::kCommand);
    request.sequence = byteAt(request_offset::kSequence);
    request.declaredLength = byteAt(request_offset::kPayloadLength);
    const std::size_t available =
        report.size() > request_offset::kPayload ? report.size() - request_offset::kPayload : 0;
    const std::size_t length =
        std::min<std::size_t>({request.declaredLength, kMaxPayload, available});
    request.payload.assign(
        report.begin() + static_cast<std::ptrdiff_t>(request_offset::kPayload),
        report.begin() + static_cast<std::ptrdiff_t>(request_offset::kPayload + length));
    return request;
}

InputReport encodeAnswer(const WireAnswer& answer) {
    InputReport report;
    ReportFrame& frame = report.bytes;
    frame[0] = kReportId;
    constexpr std::size_t b = 1;
    std::copy(kMagic.begin(), kMagic.end(), frame.begin() + b + response_offset::kMagic);
    frame[b + response_offset::kVersion] = kProtocolVersion;
    frame[b + response_offset::kCommand] = answer.command;
    frame[b + response_offset::kSequence] = answer.sequence;
    frame[b + response_offset::kStatus] = answer.status;
    const std::size_t length = std::min(answer.payload.size(), kMaxPayload);
    frame[b + response_offset::kPayloadLength] = static_cast<std::uint8_t>(length);
    std::copy_n(answer.payload.begin(), length, frame.begin() + b + response_offset::kPayload);
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
