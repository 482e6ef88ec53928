#include "hid/hid_exchange.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace velkora {
namespace {

using Status = platform::HidIoResult::Status;

bool answersRequest(const HidResponse& response, std::uint8_t command, std::uint8_t sequence) {
    return response.headerComplete() && response.command() == command &&
           response.sequence() == sequence;
}

void writeRequest(HidHandle& handle, const ReportFrame& frame, std::uint32_t timeoutMs) {
    const platform::HidIoResult result = handle.connection().write(frame, timeoutMs);
    switch (result.status) {
        case Status::Completed:
            if (result.bytes != kReportSize) {
                throw HidTransportError("HID write failed.");
            }
            return;
        case Status::EventFailed:
            throw std::runtime_error("CreateEvent failed for HID write.");
        case Status::TimedOut:
        case Status::WaitFailed:
            throw HidTransportError("Timed out writing HID report.");
        case Status::Failed:
            break;
    }
    throw HidTransportError("HID write failed.");
}

}  // namespace

HidResponse hidExchange(HidHandle& handle, std::uint8_t command, std::uint8_t sequence,
                        std::span<const std::uint8_t> payload, std::uint32_t timeoutMs) {
    if (payload.size() > kMaxPayload) {
        throw std::runtime_error("Internal error: HID payload exceeds protocol limit.");
    }
    // A closed handle fails the way the system fails a write on one, instead of reaching
    // through a null connection.
    if (!handle.valid()) {
        throw HidTransportError("HID write failed.");
    }
    writeRequest(handle, buildRequestFrame(command, sequence, payload), timeoutMs);

    // Elapsed time is the unsigned 32-bit difference from the start, which stays right when
    // the tick counter wraps in the middle of the exchange.
    platform::Clock& clock = handle.clock();
    const std::uint32_t start = clock.tickCount32();
    std::uint32_t elapsed = 0;
    HidResponse response;
    while (elapsed < timeoutMs) {
        response = HidResponse{};
        response.length = hidReadReport(handle, response.data, timeoutMs - elapsed);
        if (answersRequest(response, command, sequence)) {
            return response;
        }
        elapsed = clock.tickCount32() - start;
    }
    throw HidTransportError("Timed out waiting for HID response.");
}

std::uint32_t hidReadReport(HidHandle& handle, std::span<std::uint8_t> buffer,
                            std::uint32_t timeoutMs) {
    if (!handle.valid()) {
        throw HidTransportError("HID read failed (the handle is closed).");
    }
    const platform::HidIoResult result = handle.connection().read(buffer, timeoutMs);
    if (result.reportsLost) {
        handle.noteQueueOverflow();
    }
    switch (result.status) {
        case Status::Completed:
            // Callers index the buffer by this count; no platform may claim more than fits.
            return std::min(result.bytes, static_cast<std::uint32_t>(buffer.size()));
        case Status::TimedOut:
            throw HidTransportError("Timed out reading HID response.");
        case Status::EventFailed:
            throw std::runtime_error("CreateEvent failed for HID read.");
        case Status::WaitFailed:
            throw std::runtime_error("WaitForSingleObject failed for HID read (" +
                                     result.errorDetail + ").");
        case Status::Failed:
            break;
    }
    throw HidTransportError("HID read failed (" + result.errorDetail + ").");
}

}  // namespace velkora
