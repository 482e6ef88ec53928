#include "hid/report_frame.h"

#include <algorithm>

namespace velkora {

ReportFrame buildRequestFrame(std::uint8_t command, std::uint8_t sequence,
                              std::span<const std::uint8_t> payload) {
    ReportFrame frame{};
    frame[request_offset::kReportId] = kReportId;
    std::copy(kMagic.begin(), kMagic.end(), frame.begin() + request_offset::kMagic);
    frame[request_offset::kVersion] = kProtocolVersion;
    frame[request_offset::kCommand] = command;
    frame[request_offset::kSequence] = sequence;
    frame[request_offset::kPayloadLength] = static_cast<std::uint8_t>(payload.size());
    frame[request_offset::kReserved] = 0;
    std::copy(payload.begin(), payload.end(), frame.begin() + request_offset::kPayload);
    return frame;
}

}  // namespace velkora
