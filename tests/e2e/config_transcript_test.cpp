#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/config_transcript_support.h"
#include "tests/e2e/golden_file.h"
#include "tests/e2e/transcript_harness.h"

namespace velkora::testing {
namespace {

// A whole editing session a reviewer should read: a change, restoring the defaults, another
// change, a store question answered badly twice, a store the adapter refuses (FAILED) and one
// it accepts; then the next run opens Configuration again and finds the stored values with no
// marks, leaves without storing, and the run after that leaves the adapter in its bootloader.
// Every run-log line of the mode appears in its order.
TEST(ConfigurationTranscript, ChangeRestoreStoreAndReadAgainInTheNextRun) {
    const TranscriptScript script{"config_store_fails_once.scn",
                                  {},
                                  typedAtOnce({"6", " 1 ", "3", "2", "2", "1", "5", "1", "3",
                                               "maybe", "", "y", "3", "YES", "6", "4", "4"}),
                                  std::nullopt};
    const TranscriptResult result = runTranscript(script);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.linesNotRead, 0u);
    EXPECT_EQ(result.openConnections, 0u);
    EXPECT_TRUE(matchesGolden("config_change_restore_store_next_run.txt",
                              renderTranscript(script, result)));
}

// The adapter stores and restarts, but the answer to STORE_CONFIG is lost: the updater cannot
// know whether the store happened, says so, sends nothing more and ends with exit code 1.
// Started again, it finds the adapter back in its bootloader and reads its configuration
// afresh: the stored values, with no marks.
TEST(ConfigurationTranscript, LostStoreAnswerThenTheNextStartReadsAfresh) {
    const TranscriptScript script{"config_store_answer_lost.scn",
                                  {},
                                  typedAtOnce({"6", "1", "2", "2", "3", "y", "", "6", "4", "4"}),
                                  std::nullopt};
    const TranscriptResult result = runTranscript(
        script, [](platform::Services& services, const std::vector<std::string>& arguments) {
            const int first = runRealEntryPoint(services, arguments);
            services.out << "\n[the updater ended with exit code " << first
                         << "; the user starts it again]\n";
            return runRealEntryPoint(services, arguments);
        });
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.linesNotRead, 0u);
    EXPECT_EQ(result.openConnections, 0u);
    EXPECT_TRUE(
        matchesGolden("config_store_answer_lost_next_start.txt", renderTranscript(script, result)));
}

}  // namespace
}  // namespace velkora::testing
