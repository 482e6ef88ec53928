#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/e2e/config_transcript_support.h"
#include "tests/e2e/golden_file.h"
#include "tests/e2e/transcript_harness.h"

namespace velkora::testing {
namespace {

struct GoldenCase {
    const char* name;  // also the golden file's name, without its ".txt"
    TranscriptScript script;
    SessionBody body = runRealEntryPoint;
};

void PrintTo(const GoldenCase& row, std::ostream* out) {
    *out << row.name;
}

class UpdaterTranscript : public ::testing::TestWithParam<GoldenCase> {};

// The program's real entry point against a simulated adapter: the whole dialogue, the exit
// code, the run log, the files written and the adapter's side of it, compared with a golden
// transcript.
TEST_P(UpdaterTranscript, MatchesGolden) {
    const auto started = std::chrono::steady_clock::now();
    const TranscriptResult result = runTranscript(GetParam().script, GetParam().body);
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
    EXPECT_EQ(result.linesNotRead, 0u) << "every typed line is answered";
}

constexpr int kArrowUpPrefix = 224;
constexpr int kArrowUp = 72;

// 510 bytes: ten chunks, so the progress line stays short enough to read.
const FirmwarePackageProfile kSmallPackage{0x03, "1.5.0.0", 510};

// The user ends the first run, then starts the updater again in the same session.
int runTwice(platform::Services& services, const std::vector<std::string>& arguments) {
    const int first = runRealEntryPoint(services, arguments);
    services.out << "\n[the updater ended with exit code " << first
                 << "; the user starts it again]\n";
    return runRealEntryPoint(services, arguments);
}

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
                   {"two_bootloaders.scn", {"--SERVICE"}, {{{0, ""}}, {}}, std::nullopt}},
        // No valid application: the update starts without the menu. The user answers the
        // question after it with something it does not know, then closes with Enter.
        GoldenCase{
            "automatic_update_without_application",
            {"no_application.scn", {}, {{{8000, "later"}, {9000, ""}}, {}}, kSmallPackage}},
        // An update chosen from the menu, on a bootloader found in ERROR: the abort, the
        // retry and the transfer in the run log, on a bus with 1 ms frames; then the user
        // closes the updater.
        GoldenCase{"update_from_menu_after_broken_transfer",
                   {"found_in_error.scn", {}, {{{0, "1"}, {5000, ""}}, {}}, kSmallPackage}},
        // Fault-log mode as a service technician meets it: the adapter's fault log is shown
        // and saved, then cleared; the updater returns to adapter detection, finds the
        // adapter back in its bootloader, and shows the now empty log (the management
        // sequence starts at 1 again, and a second file is saved). Clearing it once more is
        // refused by the adapter: the error is shown under "Update failed." after EXIT was
        // sent to clean up, and both saved fault logs stay.
        GoldenCase{"fault_log_view_clear_view_again_refused_clear",
                   {"fault_log_service_adapter.scn",
                    {"--service"},
                    {{{0, "2"},
                      {4000, "y"},
                      {6000, "CLEAR"},
                      {9000, "2"},
                      {12000, "yes"},
                      {14000, "CLEAR"}},
                     {}},
                    std::nullopt}},
        // A whole editing session a reviewer should read: a change, restoring the defaults,
        // another change, a store question answered badly twice, a store the adapter refuses
        // (FAILED) and one it accepts; then the next run opens Configuration again and finds
        // the stored values with no marks, leaves without storing, and the run after that
        // leaves the adapter in its bootloader. Every run-log line of the mode appears in its
        // order.
        GoldenCase{"config_change_restore_store_next_run",
                   {"config_store_fails_once.scn",
                    {},
                    typedAtOnce({"6", " 1 ", "3", "2", "2", "1", "5", "1", "3", "maybe", "", "y",
                                 "3", "YES", "6", "4", "4"}),
                    std::nullopt}},
        // The adapter stores and restarts, but the answer to STORE_CONFIG is lost: the
        // updater cannot know whether the store happened, says so, sends nothing more and
        // ends with exit code 1. Started again, it finds the adapter back in its bootloader
        // and reads its configuration afresh: the stored values, with no marks.
        GoldenCase{"config_store_answer_lost_next_start",
                   {"config_store_answer_lost.scn",
                    {},
                    typedAtOnce({"6", "1", "2", "2", "3", "y", "", "6", "4", "4"}),
                    std::nullopt},
                   runTwice}),
    [](const ::testing::TestParamInfo<GoldenCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::testing
