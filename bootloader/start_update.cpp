#include "bootloader/start_update.h"

#include <array>
#include <stdexcept>

#include "bootloader/bootloader_commands.h"
#include "bootloader/bootloader_records.h"
#include "bootloader/firmware_transfer.h"
#include "common/exceptions.h"

namespace velkora {
namespace {

HidResponse sendStartUpdate(HidHandle& handle, std::uint32_t imageSize, std::uint8_t protocolMinor,
                            std::uint8_t& sequence) {
    std::array<std::uint8_t, 6> payload{1, protocolMinor};
    writeLe32(payload, 2, imageSize);
    return hidExchange(handle, bootloader_command::kStartUpdate, takeSequence(sequence), payload,
                       bootloader_timeout::kStartUpdate);
}

BootloaderStatus readStatus(HidHandle& handle, std::uint8_t& sequence) {
    return parseBootloaderStatus(hidExchange(handle, bootloader_command::kGetStatus,
                                             takeSequence(sequence), {},
                                             bootloader_timeout::kGetStatus));
}

[[noreturn]] void failRetry(std::uint8_t status, RunLog& log) {
    const std::string name = bootloaderStatusName(status);
    log.writeLine("START_UPDATE recovery: retry failed status=" + name);
    throw DeviceRefused(std::string(kTransferLabel) + " START_UPDATE retry failed: " + name);
}

// A bootloader that reports ERROR with no transfer active is safe to reset: abort, check that
// it is idle again, and try once more.
HidResponse recoverByAbort(HidHandle& handle, std::uint32_t imageSize, std::uint8_t protocolMinor,
                           std::uint8_t& sequence, RunLog& log) {
    log.writeLine("START_UPDATE recovery: ERROR with no active transfer; sending ABORT_UPDATE");
    requireOk(std::string(kTransferLabel) + " ABORT_UPDATE",
              hidExchange(handle, bootloader_command::kAbortUpdate, takeSequence(sequence), {},
                          bootloader_timeout::kAbortUpdate));
    const BootloaderStatus afterAbort = readStatus(handle, sequence);
    logStatusSummary(log, "START_UPDATE recovery: after ABORT_UPDATE", afterAbort);
    if (afterAbort.state != bootloader_state::kIdle) {
        throw DeviceRefused(std::string(kTransferLabel) +
                            " ABORT_UPDATE did not return the bootloader to IDLE. " +
                            formatStatusSummary(afterAbort));
    }
    log.writeLine("START_UPDATE recovery: sending one retry after ABORT_UPDATE");
    HidResponse retry = sendStartUpdate(handle, imageSize, protocolMinor, sequence);
    if (retry.responseStatus() != bootloader_status::kOk) {
        failRetry(retry.responseStatus(), log);
    }
    return retry;
}

// An idle bootloader that still said BUSY may have been finishing something; one retry.
HidResponse recoverByRetry(HidHandle& handle, std::uint32_t imageSize, std::uint8_t protocolMinor,
                           std::uint8_t& sequence, RunLog& log, const BootloaderStatus& prior) {
    log.writeLine("START_UPDATE recovery: state is IDLE; retrying START_UPDATE once");
    HidResponse retry = sendStartUpdate(handle, imageSize, protocolMinor, sequence);
    if (retry.responseStatus() == bootloader_status::kBusy) {
        log.writeLine("START_UPDATE recovery: remained BUSY while GET_STATUS reported IDLE");
        throw DeviceRefused(
            "START_UPDATE remained BUSY while GET_STATUS reported IDLE; protocol/state "
            "inconsistency. " +
            formatStatusSummary(prior));
    }
    if (retry.responseStatus() != bootloader_status::kOk) {
        failRetry(retry.responseStatus(), log);
    }
    return retry;
}

}  // namespace

HidResponse startUpdate(HidHandle& handle, std::uint32_t imageSize, std::uint8_t protocolMinor,
                        std::uint8_t& sequence, RunLog& log) {
    HidResponse first = sendStartUpdate(handle, imageSize, protocolMinor, sequence);
    if (first.responseStatus() == bootloader_status::kOk) {
        return first;
    }
    if (first.responseStatus() != bootloader_status::kBusy) {
        requireOk(std::string(kTransferLabel) + " START_UPDATE", first);
    }

    const BootloaderStatus prior = readStatus(handle, sequence);
    logStatusSummary(log, "Initial START_UPDATE returned BUSY; prior", prior);

    // An active transfer is never aborted and a finished one never touched: either may be a
    // device that is in the middle of installing firmware.
    if (prior.state == bootloader_state::kError && !prior.active) {
        return recoverByAbort(handle, imageSize, protocolMinor, sequence, log);
    }
    if (prior.state == bootloader_state::kIdle) {
        return recoverByRetry(handle, imageSize, protocolMinor, sequence, log, prior);
    }
    if (prior.state == bootloader_state::kReceiving && prior.active) {
        log.writeLine("START_UPDATE recovery: active transfer detected; no automatic abort");
        throw DeviceRefused(
            "An update is already active and cannot safely be replaced automatically. " +
            formatStatusSummary(prior));
    }
    if (prior.state == bootloader_state::kFinished && !prior.active) {
        log.writeLine("START_UPDATE recovery: previous update is FINISHED; no automatic abort");
        throw DeviceRefused(
            "The previous update has completed; the device may be handing off or resetting. " +
            formatStatusSummary(prior));
    }
    log.writeLine("START_UPDATE recovery: unsupported state; no automatic recovery");
    throw DeviceRefused(std::string(kTransferLabel) +
                        " START_UPDATE returned BUSY with an unsupported device state. " +
                        formatStatusSummary(prior));
}

}  // namespace velkora
