#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/golden_file.h"
#include "tests/e2e/transcript_harness.h"

namespace velkora::testing {
namespace {

struct RunGolden {
    const char* name;
    TranscriptScript script;
};

void PrintTo(const RunGolden& row, std::ostream* out) {
    *out << row.name;
}

class RunTranscript : public ::testing::TestWithParam<RunGolden> {};

// Whole firmware updates as the user and the run log see them, compared with golden files.
TEST_P(RunTranscript, MatchesGolden) {
    const TranscriptResult result = runTranscript(GetParam().script);
    EXPECT_TRUE(matchesGolden(std::string(GetParam().name) + ".txt",
                              renderTranscript(GetParam().script, result)));
    EXPECT_EQ(result.openConnections, 0u);
    EXPECT_EQ(result.linesNotRead, 0u);
}

// 510 bytes: ten chunks, so the progress line stays short enough to read.
const FirmwarePackageProfile kPackage{0x03, "1.5.0.0", 510};

INSTANTIATE_TEST_SUITE_P(
    Golden, RunTranscript,
    ::testing::Values(
        // No valid application: the update starts without the menu. The user answers the
        // question after it with something it does not know, then closes with Enter.
        RunGolden{"run_automatic_update_without_application",
                  {"run_no_application.scn", {}, {{{8000, "later"}, {9000, ""}}, {}}, kPackage}},
        // An update chosen from the menu, on a bootloader found in ERROR: the abort, the
        // retry and the transfer in the run log, on a bus with 1 ms frames; then the user
        // closes the updater.
        RunGolden{"run_update_from_menu_after_broken_transfer",
                  {"run_found_in_error.scn", {}, {{{0, "1"}, {5000, ""}}, {}}, kPackage}}),
    [](const ::testing::TestParamInfo<RunGolden>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::testing
