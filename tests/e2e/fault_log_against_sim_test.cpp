#include <gtest/gtest.h>

#include <string>

#include "app/common/run_log.h"
#include "bootloader/device_detection.h"
#include "management/fault_log_mode.h"
#include "tests/e2e/golden_file.h"
#include "tests/e2e/transcript_harness.h"

namespace velkora::testing {
namespace {

// Fault-log mode against the simulated adapter, in service mode: the wait, the hand-over,
// the dump in reports of 56 and 13 bytes (so the end marker is split), the saved fault-log
// file, the clearing after both confirmations, and EXIT. Then the adapter is back in its
// bootloader and its next dump is empty.
TEST(FaultLogAgainstSimulator, ServiceModeViewAndClearTranscript) {
    const TranscriptScript script{
        "late_adapter.scn", {"--service"}, {{{20000, "y"}, {21000, "CLEAR"}}, {}}, {}};
    const TranscriptResult result =
        runTranscript(script, [](platform::Services& services, const std::vector<std::string>&) {
            RunLog log = openRunLog(services.host.programFolder(), services.clock);
            const HidDeviceInfo bootloader = waitForBootloader(services, log, true);
            HidHandle handle = openHidDevice(services, bootloader.path);
            std::uint8_t sequence = 4;
            runFaultLogMode(services, handle, sequence, bootloader, log, true);
            services.clock.sleepMs(1000);
            services.out << "Interfaces a second later: " << services.hid.enumerate().size()
                         << ", product " << services.hid.enumerate().front().product << "\n";
            return 0;
        });
    EXPECT_EQ(result.openConnections, 0u);
    EXPECT_TRUE(
        matchesGolden("fault_log_service_mode_clear.txt", renderTranscript(script, result)));
}

}  // namespace
}  // namespace velkora::testing
