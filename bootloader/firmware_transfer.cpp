#include "bootloader/firmware_transfer.h"

#include <algorithm>
#include <array>
#include <iomanip>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "app/text.h"
#include "bootloader/bootloader_commands.h"

namespace velkora {
namespace {

// 56 payload bytes less the chunk header: a 32-bit offset and a length byte.
constexpr std::size_t kChunkSize = 51;
constexpr std::uint32_t kPauseBeforeDataMs = 30;
constexpr std::uint32_t kPauseAfterChunkMs = 1;
constexpr std::uint32_t kPauseBeforeEndMs = 30;

void sendChunk(HidHandle& handle, std::span<const std::uint8_t> image, std::uint32_t offset,
               std::uint8_t& sequence, const std::string& label) {
    const std::size_t length = std::min(kChunkSize, image.size() - offset);
    std::array<std::uint8_t, 5 + kChunkSize> payload{};
    payload[0] = static_cast<std::uint8_t>(offset);
    payload[1] = static_cast<std::uint8_t>(offset >> 8);
    payload[2] = static_cast<std::uint8_t>(offset >> 16);
    payload[3] = static_cast<std::uint8_t>(offset >> 24);
    payload[4] = static_cast<std::uint8_t>(length);
    std::copy_n(image.begin() + offset, length, payload.begin() + 5);
    const HidResponse response = sendBootloaderCommand(
        handle, BootloaderCommand::DataChunk, takeSequence(sequence),
        bootloader_timeout::kDataChunk, std::span<const std::uint8_t>(payload.data(), 5 + length));
    if (response.responseStatus() != bootloader_status::kOk) {
        throw std::runtime_error(label + " DATA_CHUNK failed at offset " + std::to_string(offset) +
                                 ": " + bootloaderStatusName(response.responseStatus()));
    }
}

}  // namespace

EndUpdateResult transferFirmware(platform::Services& services, HidHandle& handle,
                                 std::span<const std::uint8_t> image, const TransferTarget& target,
                                 std::uint8_t& sequence, const std::string& label, RunLog& log) {
    if (image.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::runtime_error("The .sfb file is too large.");
    }
    const auto imageSize = static_cast<std::uint32_t>(image.size());
    // The pauses after each chunk are meant to be one millisecond, not a timer period.
    platform::PreciseSleepScope preciseSleep(services.clock);

    startUpdate(handle, imageSize, target.protocolMinor, sequence, label, log);
    services.clock.sleepMs(kPauseBeforeDataMs);

    // The console is written only when the whole percentage changes: at most 101 times.
    int shownPercentage = -1;
    for (std::uint32_t offset = 0; offset < imageSize;) {
        sendChunk(handle, image, offset, sequence, label);
        offset += static_cast<std::uint32_t>(std::min<std::size_t>(kChunkSize, imageSize - offset));
        const auto percentage = static_cast<int>(std::uint64_t{offset} * 100u / imageSize);
        if (percentage != shownPercentage) {
            services.out << '\r' << label << ": " << std::setw(3) << percentage << '%'
                         << std::flush;
            shownPercentage = percentage;
        }
        services.clock.sleepMs(kPauseAfterChunkMs);
    }
    services.out << '\r' << label << ": 100%\n" << std::flush;

    requireOk(label + " GET_STATUS",
              sendBootloaderCommand(handle, BootloaderCommand::GetStatus, takeSequence(sequence),
                                    bootloader_timeout::kGetStatus));
    services.clock.sleepMs(kPauseBeforeEndMs);

    const EndUpdateResult result = parseEndUpdateResult(
        sendBootloaderCommand(handle, BootloaderCommand::EndUpdate, takeSequence(sequence),
                              bootloader_timeout::kEndUpdate));
    log.writeLine(label + " END_UPDATE status=" + bootloaderStatusName(result.status) +
                  " bytes=" + std::to_string(result.bytes));
    if (result.status == bootloader_status::kOk) {
        return result;
    }
    if (result.status == bootloader_status::kCompatMismatch) {
        throw std::runtime_error(
            "Firmware rejected by device: incompatible update firmware. Device compatibility " +
            formatHexByte(target.deviceCompatibility) + ", firmware compatibility " +
            formatHexByte(target.firmwareCompatibility) + ".");
    }
    throw std::runtime_error(label + " END_UPDATE failed: " + bootloaderStatusName(result.status));
}

}  // namespace velkora
