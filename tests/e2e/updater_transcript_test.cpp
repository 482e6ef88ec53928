#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/e2e/golden_file.h"
#include "tests/e2e/transcript_harness.h"

namespace velkora::testing {
namespace {

struct GoldenCase {
    const char* name;
    TranscriptScript script;
};

void PrintTo(const GoldenCase& row, std::ostream* out) {
    *out << row.name;
}

class UpdaterTranscript : public ::testing::TestWithParam<GoldenCase> {};

// The program's real entry point against a simulated adapter: the whole dialogue, the run
// log, the files written and the adapter's side of it, compared with a golden transcript.
TEST_P(UpdaterTranscript, MatchesGolden) {
    const auto started = std::chrono::steady_clock::now();
    const TranscriptResult result = runTranscript(GetParam().script);
    const auto realMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
    RecordProperty("virtual_ms", std::to_string(result.virtualMs));
    RecordProperty("real_ms", std::to_string(realMs));
    std::cout << "[ transcript ] " << GetParam().name << ": " << result.virtualMs
              << " ms of virtual time in " << realMs << " ms of real time\n";

    EXPECT_TRUE(matchesGolden(std::string(GetParam().name) + ".txt",
                              renderTranscript(GetParam().script, result)));
    EXPECT_EQ(result.openConnections, 0u) << "every HID handle is closed on the way out";
}

constexpr int kArrowUpPrefix = 224;
constexpr int kArrowUp = 72;

INSTANTIATE_TEST_SUITE_P(
    Golden, UpdaterTranscript,
    ::testing::Values(
        // The adapter arrives after 16 s of waiting, during which an arrow key is pressed and
        // ignored; the user views the fault log, and after the adapter is back in its
        // bootloader leaves it there.
        GoldenCase{"late_adapter_fault_log_then_exit",
                   {"late_adapter.scn",
                    {},
                    {{{0, "2"}, {0, "4"}}, {{5000, kArrowUpPrefix}, {5000, kArrowUp}}},
                    FirmwarePackageProfile{}}},
        // The longest path: the adapter arrives after 16 s; the user updates its firmware,
        // answers the question after the update a few seconds later (the adapter restarts
        // after installing) with R and finds the same adapter with the new version,
        // changes one configuration item and stores it, and after the adapter's restart
        // leaves it in its bootloader.
        GoldenCase{"late_adapter_update_configure_and_store",
                   {"late_adapter.scn",
                    {},
                    {{{0, "1"},
                      {20000, "r"},
                      {0, "6"},
                      {0, "1"},
                      {0, "3"},
                      {0, "2"},
                      {0, "3"},
                      {0, "y"},
                      {0, "4"}},
                     {}},
                    FirmwarePackageProfile{}}},
        // Without update firmware, Q ends the wait silently.
        GoldenCase{"cancel_wait_without_package",
                   {"late_adapter.scn", {}, {{}, {{3000, 'q'}}}, std::nullopt}},
        // Two adapters in firmware-update mode: refused at once, in service mode too.
        GoldenCase{"two_bootloaders_service_mode",
                   {"two_bootloaders.scn", {"--SERVICE"}, {{{0, ""}}, {}}, std::nullopt}}),
    [](const ::testing::TestParamInfo<GoldenCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::testing
