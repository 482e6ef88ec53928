#include "bootloader/firmware_transfer.h"

#include <algorithm>
#include <array>
#include <iomanip>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "bootloader/bootloader_commands.h"
#include "bootloader/start_update.h"
#include "common/exceptions.h"
#include "common/text.h"

namespace velkora {
namespace {

// 56 payload bytes less the chunk header: a 32-bit offset and a length byte.
constexpr std::size_t kChunkSize = 51;
constexpr std::uint32_t kPauseBeforeDataMs = 30;
constexpr std::uint32_t kPauseAfterChunkMs = 1;
constexpr std::uint32_t kPauseBeforeEndMs = 30;

void sendChunk(HidHandle& handle, std::span<const std::uint8_t> image, std::uint32_t offset,
               std::uint8_t& sequence) {
    const std::size_t length = std::min(kChunkSize, image.size() - offset);
    std::array<std::uint8_t, 5 + kChunkSize> payload{};
    writeLe32(payload, 0, offset);
    payload[4] = static_cast<std::uint8_t>(length);
    std::copy_n(image.begin() + offset, length, payload.begin() + 5);
    const HidResponse response = hidExchange(
        handle, bootloader_command::kDataChunk, takeSequence(sequence),
        std::span<const std::uint8_t>(payload.data(), 5 + length), bootloader_timeout::kDataChunk);
    if (response.responseStatus() != bootloader_status::kOk) {
        throw DeviceRefused(std::string(kTransferLabel) + " DATA_CHUNK failed at offset " +
                            std::to_string(offset) + ": " +
                            bootloaderStatusName(response.responseStatus()));
    }
}

}  // namespace

EndUpdateResult transferFirmware(platform::Services& services, HidHandle& handle,
                                 std::span<const std::uint8_t> image, const TransferTarget& target,
                                 std::uint8_t& sequence, RunLog& log) {
    const std::string label = kTransferLabel;
    const auto imageSize = static_cast<std::uint32_t>(image.size());
    // The pauses after each chunk are meant to be one millisecond, not a timer period.
    platform::PreciseSleepScope preciseSleep(services.clock);

    startUpdate(handle, imageSize, target.protocolMinor, sequence, log);
    services.clock.sleepMs(kPauseBeforeDataMs);

    // The console is written only when the whole percentage changes: at most 101 times.
    int shownPercentage = -1;
    for (std::uint32_t offset = 0; offset < imageSize;) {
        sendChunk(handle, image, offset, sequence);
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
              hidExchange(handle, bootloader_command::kGetStatus, takeSequence(sequence), {},
                          bootloader_timeout::kGetStatus));
    services.clock.sleepMs(kPauseBeforeEndMs);

    const EndUpdateResult result = parseEndUpdateResult(
        hidExchange(handle, bootloader_command::kEndUpdate, takeSequence(sequence), {},
                    bootloader_timeout::kEndUpdate));
    log.writeLine(label + " END_UPDATE status=" + bootloaderStatusName(result.status) +
                  " bytes=" + std::to_string(result.bytes));
    if (result.status == bootloader_status::kOk) {
        return result;
    }
    if (result.status == bootloader_status::kCompatMismatch) {
        throw DeviceRefused(
            "Firmware rejected by device: incompatible update firmware. Device compatibility " +
            formatHexByte(target.deviceCompatibility) + ", firmware compatibility " +
            formatHexByte(target.firmwareCompatibility) + ".");
    }
    throw DeviceRefused(label + " END_UPDATE failed: " + bootloaderStatusName(result.status));
}

void installFirmware(platform::Services& services, HidHandle& handle,
                     const FirmwarePackage& package, const BootloaderInfo& boot,
                     std::uint8_t& sequence, RunLog& log) {
    const std::uint64_t start = services.clock.tickCount64();
    log.writeLine("transfer start");
    const TransferTarget target{boot.protocolMinor, boot.compatibility,
                                package.manifest.package_compatibility};
    transferFirmware(services, handle, package.image, target, sequence, log);
    const std::uint64_t seconds = (services.clock.tickCount64() - start) / 1000u;
    log.writeLine("transfer complete seconds=" + std::to_string(seconds) +
                  " bytes=" + std::to_string(package.image.size()));
    services.out << "Installing and verifying...\n";
}

}  // namespace velkora
