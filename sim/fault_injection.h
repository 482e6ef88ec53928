#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/wire.h"

namespace velkora::sim {

// What can go wrong with the device's answer to one request.
enum class FaultKind {
    Status,         // answer with `value` as the status and do nothing else
    NoAnswer,       // the request is lost: not carried out, not answered
    AnswerLost,     // carried out, but the answer never reaches the host
    Stale,          // `value` reports with the same command and an older sequence come first
    Foreign,        // `value` reports answering another command come first
    BadMagic,       // the answer's magic is not "ZUQ"
    BadVersion,     // the answer's protocol version is not 1
    BadCommand,     // the answer echoes another command code
    BadSequence,    // the answer echoes another sequence number
    NoReportId,     // the answer is read as 64 bytes, without the report ID
    PayloadLength,  // the answer's payload-length byte says `value`
    Delay,          // the answer comes `value` ms late
    Unplug,         // the adapter vanishes on receiving the request (or, aimed at a dump
                    // report, instead of sending it); back after `value` ms in bootloader
                    // identity when `value` is not 0
    ExtraAfterEnd,  // FAULT_DUMP: `value` further reports follow the one with the end marker
    OmitItem,       // GET_CONFIG: the answer leaves out item `value`, as if the device had
                    // lost it
};

// One injected fault: which request it hits and what happens. Faults are meant to be listed
// as table rows, so a test matrix can combine every request with every kind.
struct FaultProfile {
    std::uint8_t command = 0;
    std::uint32_t occurrence = 1;  // the n-th request with this command, counting from 1;
                                   // 0 hits every one
    FaultKind kind = FaultKind::NoAnswer;
    std::uint32_t value = 0;
    // FAULT_DUMP only: 0 aims at the acknowledgement, k at the k-th dump report. Only the
    // kinds that bend a single report (status, no answer, the bad fields, no report ID and the
    // payload length) and the unplug can aim at a dump report.
    std::uint32_t report = 0;
};

// The kinds by their scenario-file names ("status", "no_answer", ...), and back.
std::optional<FaultKind> faultKindFromName(std::string_view name);
std::string_view faultKindName(FaultKind kind);
bool faultKindTakesValue(FaultKind kind);
bool faultKindCanAimAtDumpReport(FaultKind kind);

// How one report is bent on its way out.
struct ReportTweak {
    bool drop = false;
    bool badMagic = false;
    bool badVersion = false;
    bool badCommand = false;
    bool badSequence = false;
    bool noReportId = false;
    std::optional<std::uint8_t> status;
    std::optional<std::uint8_t> payloadLength;
    // Dump reports only: the adapter leaves the bus instead of sending this report.
    bool unplug = false;
    std::uint32_t replugAfterMs = 0;
};

void applyTweak(InputReport& report, const ReportTweak& tweak);

// Takes the items out of a successful GET_CONFIG answer; any other answer stays as it is.
void omitConfigItems(WireAnswer& answer, const std::vector<std::uint8_t>& items);

// Everything the faults of one request add up to.
struct ResponsePlan {
    bool execute = true;
    ReportTweak answer;
    std::uint32_t staleBefore = 0;
    std::uint32_t foreignBefore = 0;
    std::uint32_t delayMs = 0;
    bool unplug = false;
    std::uint32_t replugAfterMs = 0;
    std::uint32_t extraAfterEnd = 0;
    std::map<std::uint32_t, ReportTweak> dumpReports;  // by dump report number, from 1
    std::vector<std::uint8_t> omittedItems;            // GET_CONFIG: item IDs left out
};

// Counts the requests per command code and hands out the plan for each.
class FaultInjector {
  public:
    explicit FaultInjector(std::vector<FaultProfile> faults) : faults_(std::move(faults)) {}

    ResponsePlan planFor(std::uint8_t command);

  private:
    std::vector<FaultProfile> faults_;
    std::array<std::uint32_t, 256> seen_{};
};

}  // namespace velkora::sim
