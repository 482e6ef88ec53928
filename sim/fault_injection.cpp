#include "sim/fault_injection.h"

#include <algorithm>

namespace velkora::sim {
namespace {

struct KindName {
    FaultKind kind;
    std::string_view name;
    bool takesValue;
    bool aimsAtDumpReport;
};

constexpr std::array<KindName, 15> kKinds{{
    {FaultKind::Status, "status", true, true},
    {FaultKind::NoAnswer, "no_answer", false, true},
    {FaultKind::AnswerLost, "answer_lost", false, false},
    {FaultKind::Stale, "stale", true, false},
    {FaultKind::Foreign, "foreign", true, false},
    {FaultKind::BadMagic, "bad_magic", false, true},
    {FaultKind::BadVersion, "bad_version", false, true},
    {FaultKind::BadCommand, "bad_command", false, true},
    {FaultKind::BadSequence, "bad_sequence", false, true},
    {FaultKind::NoReportId, "no_report_id", false, true},
    {FaultKind::PayloadLength, "payload_length", true, true},
    {FaultKind::Delay, "delay", true, false},
    {FaultKind::Unplug, "unplug", true, true},
    {FaultKind::ExtraAfterEnd, "extra_after_end", true, false},
    {FaultKind::OmitItem, "omit_item", true, false},
}};

const KindName& entry(FaultKind kind) {
    return *std::find_if(kKinds.begin(), kKinds.end(),
                         [kind](const KindName& k) { return k.kind == kind; });
}

void bendReport(ReportTweak& tweak, const FaultProfile& fault) {
    switch (fault.kind) {
        case FaultKind::Status:
            tweak.status = static_cast<std::uint8_t>(fault.value);
            break;
        case FaultKind::NoAnswer:
        case FaultKind::AnswerLost:
            tweak.drop = true;
            break;
        case FaultKind::BadMagic:
            tweak.badMagic = true;
            break;
        case FaultKind::BadVersion:
            tweak.badVersion = true;
            break;
        case FaultKind::BadCommand:
            tweak.badCommand = true;
            break;
        case FaultKind::BadSequence:
            tweak.badSequence = true;
            break;
        case FaultKind::NoReportId:
            tweak.noReportId = true;
            break;
        case FaultKind::PayloadLength:
            tweak.payloadLength = static_cast<std::uint8_t>(fault.value);
            break;
        case FaultKind::Unplug:
            tweak.unplug = true;
            tweak.replugAfterMs = fault.value;
            break;
        default:
            break;
    }
}

void addToPlan(ResponsePlan& plan, const FaultProfile& fault) {
    if (fault.report > 0) {
        bendReport(plan.dumpReports[fault.report], fault);
        return;
    }
    switch (fault.kind) {
        case FaultKind::Status:
        case FaultKind::NoAnswer:
            // A refused or lost request leaves the device as it was.
            plan.execute = false;
            bendReport(plan.answer, fault);
            break;
        case FaultKind::Stale:
            plan.staleBefore += fault.value;
            break;
        case FaultKind::Foreign:
            plan.foreignBefore += fault.value;
            break;
        case FaultKind::Delay:
            plan.delayMs += fault.value;
            break;
        case FaultKind::Unplug:
            plan.unplug = true;
            plan.execute = false;
            plan.replugAfterMs = fault.value;
            break;
        case FaultKind::ExtraAfterEnd:
            plan.extraAfterEnd += fault.value;
            break;
        case FaultKind::OmitItem:
            plan.omittedItems.push_back(static_cast<std::uint8_t>(fault.value));
            break;
        default:
            bendReport(plan.answer, fault);
            break;
    }
}

}  // namespace

std::optional<FaultKind> faultKindFromName(std::string_view name) {
    for (const KindName& k : kKinds) {
        if (k.name == name) {
            return k.kind;
        }
    }
    return std::nullopt;
}

std::string_view faultKindName(FaultKind kind) {
    return entry(kind).name;
}

bool faultKindTakesValue(FaultKind kind) {
    return entry(kind).takesValue;
}

bool faultKindCanAimAtDumpReport(FaultKind kind) {
    return entry(kind).aimsAtDumpReport;
}

void applyTweak(InputReport& report, const ReportTweak& tweak) {
    // Reports are built whole, with their report ID; leaving it off comes last.
    Report& bytes = report.bytes;
    if (tweak.status) {
        bytes[frame::kStatusAt] = *tweak.status;
    }
    if (tweak.payloadLength) {
        bytes[frame::kAnswerLengthAt] = *tweak.payloadLength;
    }
    if (tweak.badMagic) {
        bytes[frame::kMagicAt] = 'X';
    }
    if (tweak.badVersion) {
        bytes[frame::kVersionAt] = frame::kVersion + 1;
    }
    if (tweak.badCommand) {
        bytes[frame::kCommandAt] ^= 0x40;
    }
    if (tweak.badSequence) {
        bytes[frame::kSequenceAt] ^= 0x80;
    }
    if (tweak.noReportId) {
        std::copy(bytes.begin() + 1, bytes.end(), bytes.begin());
        bytes[frame::kBytes - 1] = 0;
        report.length = frame::kBytes - 1;
    }
}

void omitConfigItems(WireAnswer& answer, const std::vector<std::uint8_t>& items) {
    std::vector<std::uint8_t>& p = answer.payload;
    if (answer.command != command::kGetConfig || answer.status != status::kOk || p.size() < 2) {
        return;
    }
    // The payload is the wire format, the count and then one (ID, value) pair per item.
    std::vector<std::uint8_t> kept{p[0], 0};
    for (std::size_t at = 2; at + 1 < p.size(); at += 2) {
        if (std::find(items.begin(), items.end(), p[at]) == items.end()) {
            kept.push_back(p[at]);
            kept.push_back(p[at + 1]);
            ++kept[1];
        }
    }
    p = std::move(kept);
}

ResponsePlan FaultInjector::planFor(std::uint8_t command) {
    const std::uint32_t occurrence = ++seen_[command];
    ResponsePlan plan;
    for (const FaultProfile& fault : faults_) {
        if (fault.command == command && (fault.occurrence == 0 || fault.occurrence == occurrence)) {
            addToPlan(plan, fault);
        }
    }
    return plan;
}

}  // namespace velkora::sim
