#include <array>
#include <stdexcept>

#include "bootloader/bootloader_commands.h"
#include "bootloader/firmware_transfer.h"

namespace velkora {
namespace {

HidResponse sendStartUpdate(HidHandle& handle, std::uint32_t imageSize, std::uint8_t protocolMinor,
                            std::uint8_t& sequence) {
    const std::array<std::uint8_t, 6> payload{1,
                                              protocolMinor,
                                              static_cast<std::uint8_t>(imageSize),
                                              static_cast<std::uint8_t>(imageSize >> 8),
                                              static_cast<std::uint8_t>(imageSize >> 16),
                                              static_cast<std::uint8_t>(imageSize >> 24)};
    return sendBootloaderCommand(handle, BootloaderCommand::StartUpdate, takeSequence(sequence),
                                 bootloader_timeout::kStartUpdate, payload);
}

BootloaderStatus readStatus(HidHandle& handle, std::uint8_t& sequence) {
    return parseBootloaderStatus(sendBootloaderCommand(handle, BootloaderCommand::GetStatus,
                                                       takeSequence(sequence),
                                                       bootloader_timeout::kGetStatus));
}

[[noreturn]] void failRetry(const std::string& label, std::uint8_t status, RunLog& log) {
    const std::string name = bootloaderStatusName(status);
    log.writeLine("START_UPDATE recovery: retry failed status=" + name);
    throw std::runtime_error(label + " START_UPDATE retry failed: " + name);
}

// A bootloader that reports ERROR with no transfer active is safe to reset: abort, check that
// it is idle again, and try once more.
HidResponse recoverByAbort(HidHandle& handle, std::uint32_t imageSize, std::uint8_t protocolMinor,
                           std::uint8_t& sequence, const std::string& label, RunLog& log) {
    log.writeLine("START_UPDATE recovery: ERROR with no active transfer; sending ABORT_UPDATE");
    requireOk(label + " ABORT_UPDATE",
              sendBootloaderCommand(handle, BootloaderCommand::AbortUpdate, takeSequence(sequence),
                                    bootloader_timeout::kAbortUpdate));
    const BootloaderStatus afterAbort = readStatus(handle, sequence);
    logStatusSummary(log, "START_UPDATE recovery: after ABORT_UPDATE", afterAbort);
    if (afterAbort.state != bootloader_state::kIdle) {
        throw std::runtime_error(label + " ABORT_UPDATE did not return the bootloader to IDLE. " +
                                 formatStatusSummary(afterAbort));
    }
    log.writeLine("START_UPDATE recovery: sending one retry after ABORT_UPDATE");
    HidResponse retry = sendStartUpdate(handle, imageSize, protocolMinor, sequence);
    if (retry.responseStatus() != bootloader_status::kOk) {
        failRetry(label, retry.responseStatus(), log);
    }
    return retry;
}

// An idle bootloader that still said BUSY may have been finishing something; one retry.
HidResponse recoverByRetry(HidHandle& handle, std::uint32_t imageSize, std::uint8_t protocolMinor,
                           std::uint8_t& sequence, const std::string& label, RunLog& log,
                           const BootloaderStatus& prior) {
    log.writeLine("START_UPDATE recovery: state is IDLE; retrying START_UPDATE once");
    HidResponse retry = sendStartUpdate(handle, imageSize, protocolMinor, sequence);
    if (retry.responseStatus() == bootloader_status::kBusy) {
        log.writeLine("START_UPDATE recovery: remained BUSY while GET_STATUS reported IDLE");
        throw std::runtime_error(
            "START_UPDATE remained BUSY while GET_STATUS reported IDLE; protocol/state "
            "inconsistency. " +
            formatStatusSummary(prior));
    }
    if (retry.responseStatus() != bootloader_status::kOk) {
        failRetry(label, retry.responseStatus(), log);
    }
    return retry;
}

}  // namespace

HidResponse startUpdate(HidHandle& handle, std::uint32_t imageSize, std::uint8_t protocolMinor,
                        std::uint8_t& sequence, const std::string& label, RunLog& log) {
    HidResponse first = sendStartUpdate(handle, imageSize, protocolMinor, sequence);
    if (first.responseStatus() == bootloader_status::kOk) {
        return first;
    }
    if (first.responseStatus() != bootloader_status::kBusy) {
        requireOk(label + " START_UPDATE", first);
    }

    const BootloaderStatus prior = readStatus(handle, sequence);
    logStatusSummary(log, "Initial START_UPDATE returned BUSY; prior", prior);

    // An active transfer is never aborted and a finished one never touched: either may be a
    // device that is in the middle of installing firmware.
    if (prior.state == bootloader_state::kError && !prior.active) {
        return recoverByAbort(handle, imageSize, protocolMinor, sequence, label, log);
    }
    if (prior.state == bootloader_state::kIdle) {
        return recoverByRetry(handle, imageSize, protocolMinor, sequence, label, log, prior);
    }
    if (prior.state == bootloader_state::kReceiving && prior.active) {
        log.writeLine("START_UPDATE recovery: active transfer detected; no automatic abort");
        throw std::runtime_error(
            "An update is already active and cannot safely be replaced automatically. " +
            formatStatusSummary(prior));
    }
    if (prior.state == bootloader_state::kFinished && !prior.active) {
        log.writeLine("START_UPDATE recovery: previous update is FINISHED; no automatic abort");
        throw std::runtime_error(
            "The previous update has completed; the device may be handing off or resetting. " +
            formatStatusSummary(prior));
    }
    log.writeLine("START_UPDATE recovery: unsupported state; no automatic recovery");
    throw std::runtime_error(label +
                             " START_UPDATE returned BUSY with an unsupported device state. " +
                             formatStatusSummary(prior));
}

}  // namespace velkora
