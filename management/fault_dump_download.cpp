#include "management/fault_dump_download.h"

#include <algorithm>
#include <stdexcept>

#include "bootloader/bootloader_commands.h"
#include "hid/hid_exchange.h"
#include "management/fault_dump_markers.h"
#include "management/management_commands.h"

namespace velkora {
namespace {

constexpr const char* kMarkerNotReceived =
    "Fault log download failed: the complete dump end marker was not received.";

using std::to_string;

// The state of one download after the device accepted the command; its clock starts then.
struct Download {
    Download(platform::Services& services_, HidHandle& handle_, const HidDeviceInfo& expected_,
             RunLog& log_, std::uint8_t sequence_, std::uint64_t overflowsBefore_)
        : services(services_),
          handle(handle_),
          expected(expected_),
          log(log_),
          sequence(sequence_),
          overflowsBefore(overflowsBefore_),
          start(now()),
          deadline(start + fault_dump_limit::kOverallMs),
          lastReport(start) {}

    platform::Services& services;
    HidHandle& handle;
    const HidDeviceInfo& expected;
    RunLog& log;
    std::uint8_t sequence;
    std::uint64_t overflowsBefore;
    std::uint64_t start;
    std::uint64_t deadline;
    std::uint64_t lastReport;
    std::uint64_t reports = 0;
    std::string dump;

    std::uint64_t now() { return services.clock.tickCount64(); }

    [[noreturn]] void failOverallTimeout() {
        const std::uint64_t t = now();
        log.writeLine("FAULT_DUMP failed reason=overall_timeout reports=" + to_string(reports) +
                      " bytes=" + to_string(dump.size()) + " elapsed_ms=" + to_string(t - start) +
                      " last_report_age_ms=" + to_string(t - lastReport));
        logManagementInterfacePresence(services, expected, log);
        throw std::runtime_error(kMarkerNotReceived);
    }

    [[noreturn]] void failRead(const std::exception& error) {
        const std::uint64_t t = now();
        log.writeLine("FAULT_DUMP read failed reports=" + to_string(reports) +
                      " bytes=" + to_string(dump.size()) + " elapsed_ms=" + to_string(t - start) +
                      " last_report_age_ms=" + to_string(t - lastReport) +
                      " error=" + error.what());
        logManagementInterfacePresence(services, expected, log);
        throw std::runtime_error(kMarkerNotReceived);
    }

    HidResponse readReport() {
        const std::uint64_t t = now();
        if (t >= deadline) {
            failOverallTimeout();
        }
        const auto timeout =
            static_cast<std::uint32_t>(std::min(fault_dump_limit::kReportReadMs, deadline - t));
        HidResponse report;
        try {
            report.length = hidReadReport(handle, report.data, timeout);
        } catch (const std::exception& error) {
            failRead(error);
        }
        if (handle.queueOverflows() != overflowsBefore) {
            failReportsLost();
        }
        return report;
    }

    // The system dropped reports because they were not read in time: the dump has a gap
    // somewhere, and a log with a gap must never pass for the adapter's whole log.
    [[noreturn]] void failReportsLost() {
        log.writeLine("FAULT_DUMP failed reason=reports_lost reports=" + to_string(reports) +
                      " bytes=" + to_string(dump.size()) +
                      " elapsed_ms=" + to_string(now() - start));
        throw std::runtime_error(
            "Fault log download failed: reports were lost before they could be read.");
    }

    // Takes one report into the dump; true when the end marker has arrived.
    bool accept(const HidResponse& report) {
        ++reports;
        const std::uint64_t t = now();
        const std::uint64_t gap = t - lastReport;
        try {
            checkManagementResponse(report, management_command::kFaultDump, sequence, "FAULT_DUMP");
        } catch (const std::exception& error) {
            log.writeLine("FAULT_DUMP invalid report=" + to_string(reports) + " hid_bytes=" +
                          to_string(report.length) + " elapsed_ms=" + to_string(t - start) +
                          " gap_ms=" + to_string(gap) + " error=" + error.what());
            throw;
        }
        const std::size_t payload = report.payloadLength();
        const std::size_t needed = (report.hasReportId() ? 9u : 8u) + payload;
        if (payload == 0 || payload > kMaxPayload || report.length < needed) {
            log.writeLine("FAULT_DUMP invalid payload report=" + to_string(reports) +
                          " hid_bytes=" + to_string(report.length) +
                          " payload_bytes=" + to_string(payload) +
                          " elapsed_ms=" + to_string(t - start) + " gap_ms=" + to_string(gap));
            throw std::runtime_error("Fault log download failed: received an invalid dump report.");
        }
        const std::size_t before = dump.size();
        for (std::size_t i = 0; i < payload; ++i) {
            dump += static_cast<char>(report.responsePayload(i));
        }
        if (dump.size() > fault_dump_limit::kMaxBytes) {
            log.writeLine("FAULT_DUMP failed reason=size_limit reports=" + to_string(reports) +
                          " bytes=" + to_string(dump.size()) +
                          " elapsed_ms=" + to_string(t - start));
            throw std::runtime_error("Fault log download failed: the dump is too large.");
        }
        // The marker cannot lie wholly in what was searched before; a marker split across
        // reports is found when its last byte arrives.
        const std::size_t from =
            before >= kFaultDumpEndMarker.size() ? before - kFaultDumpEndMarker.size() + 1 : 0;
        const bool found = dump.find(kFaultDumpEndMarker, from) != std::string::npos;
        log.writeLine(
            "FAULT_DUMP report=" + to_string(reports) + " payload_bytes=" + to_string(payload) +
            " total_bytes=" + to_string(dump.size()) + " elapsed_ms=" + to_string(t - start) +
            " gap_ms=" + to_string(gap) + " end_marker=" + (found ? "yes" : "no"));
        lastReport = t;
        if (found) {
            log.writeLine("FAULT_DUMP complete reports=" + to_string(reports) + " bytes=" +
                          to_string(dump.size()) + " elapsed_ms=" + to_string(t - start));
        }
        return found;
    }
};

}  // namespace

std::string downloadFaultDump(platform::Services& services, HidHandle& handle,
                              std::uint8_t& sequence, const HidDeviceInfo& expected, RunLog& log) {
    const std::uint8_t requestSequence = takeSequence(sequence);
    // Whatever overflowed before the request cannot hold a report of this dump; an overflow
    // from here on may, wherever the system dropped the reports.
    const std::uint64_t overflowsBefore = handle.queueOverflows();
    log.writeLine("FAULT_DUMP sending command sequence=" + to_string(requestSequence));
    HidResponse initial;
    try {
        initial = hidExchange(handle, management_command::kFaultDump, requestSequence, {},
                              kManagementTimeoutMs);
        checkManagementResponse(initial, management_command::kFaultDump, requestSequence,
                                "FAULT_DUMP");
    } catch (const std::exception& error) {
        log.writeLine("FAULT_DUMP initial response failed sequence=" + to_string(requestSequence) +
                      " error=" + error.what());
        logManagementInterfacePresence(services, expected, log);
        throw;
    }
    if (initial.payloadLength() != 0) {
        log.writeLine("FAULT_DUMP initial response had nonzero payload length=" +
                      to_string(initial.payloadLength()));
        throw std::runtime_error("FAULT_DUMP returned an invalid initial response.");
    }

    log.writeLine("FAULT_DUMP accepted sequence=" + to_string(requestSequence));
    Download download(services, handle, expected, log, requestSequence, overflowsBefore);
    while (!download.accept(download.readReport())) {
    }
    return std::move(download.dump);
}

}  // namespace velkora
