#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/sim/sim_rig.h"

namespace velkora::sim::testing {
namespace {

struct FaultCase {
    const char* name;
    FaultKind kind;
    std::uint32_t value;
    std::string seen;  // what the updater's exchange makes of the second GET_INFO
};

// The second GET_INFO is hit; the first shows that occurrences are counted.
std::string exchangeSummary(SimRig& rig, HidHandle& handle) {
    const std::uint64_t start = rig.nowMs();
    try {
        const HidResponse r = rig.send(handle, command::kGetInfo);
        return "length=" + std::to_string(r.length) +
               " magic=" + (r.magicMatches() ? "ok" : "bad") +
               " version=" + std::to_string(r.version()) +
               " status=" + std::to_string(r.responseStatus()) +
               " payload=" + std::to_string(r.payloadLength()) +
               " after_ms=" + std::to_string(rig.nowMs() - start);
    } catch (const std::runtime_error& error) {
        return std::string(error.what()) + " after_ms=" + std::to_string(rig.nowMs() - start);
    }
}

class FaultKinds : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultKinds, BendTheAnswerAsTheUpdaterSeesIt) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.faults = {{command::kGetInfo, 2, GetParam().kind, GetParam().value, 0}};
    SimRig rig(profile);
    HidHandle handle = rig.openPresent();
    EXPECT_EQ(exchangeSummary(rig, handle),
              "length=65 magic=ok version=1 status=0 payload=49 after_ms=0");
    EXPECT_EQ(exchangeSummary(rig, handle), GetParam().seen);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FaultKinds,
    ::testing::Values(FaultCase{"Status", FaultKind::Status, 5,
                                "length=65 magic=ok version=1 status=5 payload=0 after_ms=0"},
                      FaultCase{"NoAnswer", FaultKind::NoAnswer, 0,
                                "Timed out reading HID response. after_ms=3000"},
                      FaultCase{"AnswerLost", FaultKind::AnswerLost, 0,
                                "Timed out reading HID response. after_ms=3000"},
                      FaultCase{"StaleReportsAreSkipped", FaultKind::Stale, 2,
                                "length=65 magic=ok version=1 status=0 payload=49 after_ms=0"},
                      FaultCase{"ForeignReportsAreSkipped", FaultKind::Foreign, 1,
                                "length=65 magic=ok version=1 status=0 payload=49 after_ms=0"},
                      FaultCase{"BadMagic", FaultKind::BadMagic, 0,
                                "length=65 magic=bad version=1 status=0 payload=49 after_ms=0"},
                      FaultCase{"BadVersion", FaultKind::BadVersion, 0,
                                "length=65 magic=ok version=2 status=0 payload=49 after_ms=0"},
                      FaultCase{"BadCommandNeverMatches", FaultKind::BadCommand, 0,
                                "Timed out reading HID response. after_ms=3000"},
                      FaultCase{"BadSequenceNeverMatches", FaultKind::BadSequence, 0,
                                "Timed out reading HID response. after_ms=3000"},
                      FaultCase{"NoReportId", FaultKind::NoReportId, 0,
                                "length=64 magic=ok version=1 status=0 payload=49 after_ms=0"},
                      FaultCase{"PayloadLength", FaultKind::PayloadLength, 57,
                                "length=65 magic=ok version=1 status=0 payload=57 after_ms=0"},
                      FaultCase{"Delay", FaultKind::Delay, 2500,
                                "length=65 magic=ok version=1 status=0 payload=49 after_ms=2500"},
                      FaultCase{"Unplug", FaultKind::Unplug, 0,
                                "HID read failed (Windows error 1167). after_ms=0"}),
    [](const ::testing::TestParamInfo<FaultCase>& row) { return row.param.name; });

// Asks an adapter in its application, sending dump reports of ten bytes, for its fault dump
// with the given faults, and reads every report until a read fails. Each report is listed as
// "<HID bytes>:<payload bytes>", then the failure that ended the reading, and last how many
// interfaces the bus lists after it.
std::vector<std::string> dumpReports(const std::vector<FaultProfile>& faults) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.identity.initial = Identity::Application;
    profile.timing.dumpChunkSizes = {10};
    profile.faults = faults;
    SimRig rig(profile);
    HidHandle app = rig.openPresent();
    rig.send(app, command::kFaultDump, {}, 5000);
    std::vector<std::string> reports;
    try {
        for (;;) {
            HidResponse r;
            r.length = hidReadReport(app, r.data, 100);
            reports.push_back(std::to_string(r.length) + ":" + std::to_string(r.payloadLength()));
        }
    } catch (const std::runtime_error& error) {
        reports.push_back(error.what());
    }
    reports.push_back("listed=" + std::to_string(rig.env.bus().enumerate().size()));
    return reports;
}

// Faults aimed at dump reports bend those reports only, and extra reports follow the end.
TEST(FaultDumpFaults, AimAtSingleReportsAndAddReportsAfterTheEnd) {
    const std::vector<std::string> reports =
        dumpReports({{command::kFaultDump, 1, FaultKind::PayloadLength, 0, 2},
                     {command::kFaultDump, 1, FaultKind::NoReportId, 0, 3},
                     {command::kFaultDump, 1, FaultKind::ExtraAfterEnd, 2, 0}});
    const std::size_t textReports = (emptyFaultDump().size() + 9) / 10;
    ASSERT_EQ(reports.size(), textReports + 4);
    EXPECT_EQ(reports[1], "65:0");
    EXPECT_EQ(reports[2], "64:10");
    EXPECT_EQ(reports[textReports], "65:16") << "EXTRA REPORT 1\\r\\n";
    EXPECT_EQ(reports[textReports + 2], "Timed out reading HID response.");
    EXPECT_EQ(reports.back(), "listed=1");
}

// Pulled out in the middle of a dump: the reports before arrive, then the interface is gone
// and every later read fails as on a vanished device.
TEST(FaultDumpFaults, UnplugAimedAtAReportEndsTheDumpThere) {
    EXPECT_EQ(dumpReports({{command::kFaultDump, 1, FaultKind::Unplug, 0, 3}}),
              (std::vector<std::string>{"65:10", "65:10", "HID read failed (Windows error 1167).",
                                        "listed=0"}));
}

// An item left out of one GET_CONFIG answer: the count and the length shrink with it, the
// other pairs keep their order, and the next answer lists the item again.
TEST(ConfigFaults, OmitItemLeavesOneAnswerWithoutTheItem) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.identity.initial = Identity::Application;
    profile.faults = {{command::kGetConfig, 1, FaultKind::OmitItem, 7, 0},
                      {command::kGetConfig, 1, FaultKind::OmitItem, 1, 0}};
    SimRig rig(profile);
    HidHandle app = rig.openPresent();
    const auto items = [&] {
        const HidResponse r = rig.send(app, command::kGetConfig, {}, 5000);
        std::string ids = std::to_string(r.responsePayload(1)) + ":";
        for (std::size_t i = 0; i < r.responsePayload(1); ++i) {
            ids += std::to_string(r.responsePayload(2 + 2 * i));
        }
        return ids + " length=" + std::to_string(r.payloadLength());
    };
    EXPECT_EQ(items(), "7:2345689 length=16");
    EXPECT_EQ(items(), "9:123456789 length=20");
}

// A bootloader found BUSY: the prior state is what GET_STATUS reports, and it decides
// whether START_UPDATE is refused.
TEST(PriorTransferState, RefusesStartUntilAborted) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.bootloader.prior = {
        transfer_state::kReceiving, true, command::kDataChunk, 0, 5000, 510};
    SimRig rig(profile);
    HidHandle handle = rig.openPresent();
    EXPECT_EQ(rig.send(handle, command::kStartUpdate, startUpdatePayload(100)).responseStatus(),
              status::kBusy);
    const HidResponse s = rig.send(handle, command::kGetStatus);
    EXPECT_EQ(s.responsePayload(0), transfer_state::kReceiving);
    EXPECT_EQ(s.responsePayload(2), command::kStartUpdate) << "last command handled";
    EXPECT_EQ(s.responsePayload(3), status::kBusy);
    EXPECT_EQ(getLe32(std::span(s.data).subspan(s.base() + 8 + 8), 0), 5000u);
    EXPECT_EQ(getLe32(std::span(s.data).subspan(s.base() + 8 + 12), 0), 510u);
}

}  // namespace
}  // namespace velkora::sim::testing
