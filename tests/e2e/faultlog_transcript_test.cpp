#include <gtest/gtest.h>

#include "tests/e2e/faultlog_session.h"
#include "tests/e2e/golden_file.h"

namespace velkora::testing {
namespace {

// Fault-log mode as a service technician meets it, in one session of the real program: the
// adapter's fault log is shown and saved, then cleared; the updater returns to adapter
// detection, finds the adapter back in its bootloader, and shows the now empty log (the
// management sequence starts at 1 again, and a second file is saved). Clearing it once more
// is refused by the adapter: the error is shown under "Update failed." after EXIT was sent
// to clean up, and both saved fault logs stay.
TEST(FaultLogTranscript, ViewClearViewAgainAndARefusedClear) {
    const TranscriptScript script{
        "faultlog_service_adapter.scn",
        {"--service"},
        {{{0, "2"}, {4000, "y"}, {6000, "CLEAR"}, {9000, "2"}, {12000, "yes"}, {14000, "CLEAR"}},
         {}},
        std::nullopt};
    const TranscriptResult result = runTranscript(script);
    EXPECT_EQ(result.openConnections, 0u);
    EXPECT_TRUE(matchesGolden("faultlog_view_clear_view_again_refused_clear.txt",
                              renderTranscript(script, result)));
}

}  // namespace
}  // namespace velkora::testing
