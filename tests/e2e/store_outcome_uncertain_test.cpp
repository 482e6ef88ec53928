#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/golden_file.h"
#include "tests/e2e/transcript_harness.h"

namespace velkora::testing {
namespace {

constexpr std::uint8_t kExit = 0x81;
constexpr std::uint8_t kGetConfig = 0x84;
constexpr std::uint8_t kStoreConfig = 0x86;

// STORE_CONFIG is carried out but its answer is lost: the adapter stores and restarts, so the
// read fails as on a vanished device. The updater says that the outcome is uncertain and
// sends nothing more to the adapter. The updater is then started again against the same
// adapter: it reads the configuration afresh and shows the stored change as stored, not as a
// staged one.
TEST(StoreAnswerLost, TheNextUpdaterReadsTheConfigurationAfresh) {
    const TranscriptScript script{"fault_matrix_store_answer_lost.scn",
                                  {},
                                  {{{0, "6"},
                                    {0, "1"},
                                    {0, "3"},
                                    {0, "2"},
                                    {0, "3"},
                                    {0, "y"},
                                    {0, ""},
                                    {0, "6"},
                                    {0, "4"},
                                    {0, "4"}},
                                   {}},
                                  std::nullopt};
    const TranscriptResult result = runTranscript(
        script, [](platform::Services& services, const std::vector<std::string>& arguments) {
            const int first = runRealEntryPoint(services, arguments);
            services.out << "\n[the updater ended with exit code " << first
                         << " and is started again]\n";
            return runRealEntryPoint(services, arguments);
        });
    EXPECT_TRUE(matchesGolden("store_answer_lost_then_next_run.txt",
                              renderTranscript(script, result)));

    const std::string uncertain =
        "\nConfiguration failed.\nSTORE_CONFIG outcome is uncertain; the device may have stored "
        "settings and reset. Reconnect and inspect its configuration before trying again. "
        "Detail: HID read failed (Windows error 1167).\n\nPress Enter to close.";
    const std::size_t restart = result.printed.find("[the updater ended with exit code 1");
    ASSERT_NE(restart, std::string::npos);
    EXPECT_TRUE(result.printed.substr(0, restart).ends_with(uncertain + "\n"));
    EXPECT_EQ(result.printed.find("Store accepted."), std::string::npos);

    // Nothing follows the store in the first session; the second reads the adapter afresh.
    std::size_t store = result.requests.size();
    for (std::size_t i = 0; i < result.requests.size(); ++i) {
        if (result.requests[i].request.command == kStoreConfig) {
            store = i;
        }
    }
    ASSERT_LT(store + 1, result.requests.size());
    EXPECT_EQ(result.requests[store + 1].identity, sim::Identity::Bootloader)
        << "no EXIT or other request reaches the adapter after the uncertain store";
    int exitsAfterStore = 0;
    int configReadsAfterStore = 0;
    for (std::size_t i = store + 1; i < result.requests.size(); ++i) {
        exitsAfterStore += result.requests[i].request.command == kExit ? 1 : 0;
        configReadsAfterStore += result.requests[i].request.command == kGetConfig ? 1 : 0;
    }
    EXPECT_EQ(exitsAfterStore, 1) << "only the second updater's own exit without storing";
    EXPECT_EQ(configReadsAfterStore, 1);
    const std::string secondSession = result.printed.substr(restart);
    EXPECT_NE(secondSession.find("3. Ramp rate: Aggressive10\n"), std::string::npos)
        << "the stored change is shown as stored";
    EXPECT_EQ(secondSession.find(" *\n"), std::string::npos);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.openConnections, 0u);
}

}  // namespace
}  // namespace velkora::testing
