#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "app/common/run_log.h"
#include "bootloader/device_detection.h"
#include "bootloader/firmware_transfer.h"
#include "management/management_handover.h"
#include "sim/firmware_image.h"
#include "sim/scenario_reader.h"
#include "tests/e2e/golden_file.h"
#include "tests/e2e/transcript_harness.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {
namespace {

// The bootloader subsystem's device wait and hand-over against the simulated adapter: the
// adapter arrives after 16 s, an arrow key pressed meanwhile is swallowed, and START_APP_USB
// brings up the management interface with the bootloader's serial.
TEST(BootloaderAgainstSimulator, WaitAndHandOverTranscript) {
    const TranscriptScript script{"late_adapter.scn", {}, {{}, {{5000, 224}, {5000, 72}}}, {}};
    const TranscriptResult result =
        runTranscript(script, [](platform::Services& services, const std::vector<std::string>&) {
            RunLog log = openRunLog(services.host.programFolder(), services.clock);
            const HidDeviceInfo bootloader = waitForBootloader(services, log, true);
            HidHandle handle = openHidDevice(services, bootloader.path);
            std::uint8_t sequence = 4;
            ManagementConnection management =
                startManagementInterface(services, handle, sequence, bootloader, log,
                                         "START_APP_USB succeeded; waiting for application HID");
            services.out << "Opened " << management.device.product << ", serial "
                         << management.device.serial << "\n";
            return 0;
        });
    EXPECT_GT(result.virtualMs, 15000u);
    EXPECT_TRUE(
        matchesGolden("bootloader_wait_and_hand_over.txt", renderTranscript(script, result)));
}

struct TransferCase {
    const char* name;
    const char* scenario;  // added to a compatible adapter with compatibility 0x03
    std::uint8_t firmwareCompatibility;
    std::string outcome;  // "installed <version>" or the failure's message
};

void PrintTo(const TransferCase& row, std::ostream* out) {
    *out << row.name;
}

class TransferAgainstSimulator : public ::testing::TestWithParam<TransferCase> {};

// Each way a transfer can go, with the adapter in the state (or with the fault) that leads
// there: the BUSY recovery's rows, a refused chunk and a rejected image.
TEST_P(TransferAgainstSimulator, EndsAsTheDeviceDecides) {
    TempFolder folder;
    sim::AdapterProfile profile = sim::parseScenario(
        std::string("[bootloader]\ncompatibility = 0x03\n") + GetParam().scenario, "row.scn");
    SimServices sim(folder.path(), profile);
    platform::Services& services = sim.services();
    RunLog log = openRunLog(folder.path(), services.clock);
    HidHandle handle = openHidDevice(services, services.hid.enumerate().front().path);

    const std::string header = sim::formatImageHeader(
        {GetParam().firmwareCompatibility, {1, 5, 0, 0}, sim::VersionBytes{1, 1, 0, 0}});
    std::vector<std::uint8_t> image(header.begin(), header.end());
    image.resize(300, 0x5A);
    std::uint8_t sequence = 4;
    std::string outcome;
    try {
        transferFirmware(services, handle, image, {2, 0x03, GetParam().firmwareCompatibility},
                         sequence, log);
        const sim::VersionBytes v = sim.adapter().bootloader().application().version;
        outcome = "installed " + std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                  std::to_string(v[2]) + "." + std::to_string(v[3]);
    } catch (const std::runtime_error& error) {
        outcome = error.what();
    }
    EXPECT_EQ(outcome, GetParam().outcome);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TransferAgainstSimulator,
    ::testing::Values(
        TransferCase{"Clean", "", 0x03, "installed 1.5.0.0"},
        TransferCase{"ErrorWithoutTransferIsAbortedAndRetried",
                     "transfer = state=ERROR active=0 last_command=DATA_CHUNK "
                     "last_status=OFFSET_MISMATCH\n",
                     0x03, "installed 1.5.0.0"},
        TransferCase{"IdleButBusyIsRetriedOnce", "[faults]\nSTART_UPDATE 1 = status BUSY\n", 0x03,
                     "installed 1.5.0.0"},
        TransferCase{"IdleAndStillBusy", "[faults]\nSTART_UPDATE every = status BUSY\n", 0x03,
                     "START_UPDATE remained BUSY while GET_STATUS reported IDLE; protocol/state "
                     "inconsistency. state=IDLE active=0 last_command=0x00 last_status=OK "
                     "expected=0 received=0"},
        TransferCase{"ActiveTransferIsLeftAlone",
                     "transfer = state=RECEIVING active=1 expected=5000 received=510\n", 0x03,
                     "An update is already active and cannot safely be replaced automatically. "
                     "state=RECEIVING active=1 last_command=0x03 last_status=BUSY "
                     "expected=5000 received=510"},
        TransferCase{"FinishedUpdateIsLeftAlone", "transfer = state=FINISHED active=0\n", 0x03,
                     "The previous update has completed; the device may be handing off or "
                     "resetting. state=FINISHED active=0 last_command=0x03 last_status=BUSY "
                     "expected=0 received=0"},
        TransferCase{"ErrorWithActiveFlagIsUnsupported", "transfer = state=ERROR active=1\n", 0x03,
                     "Sending firmware START_UPDATE returned BUSY with an unsupported device "
                     "state. state=ERROR active=1 last_command=0x03 last_status=BUSY expected=0 "
                     "received=0"},
        TransferCase{"UnknownStateIsUnsupported", "transfer = state=7 active=0\n", 0x03,
                     "Sending firmware START_UPDATE returned BUSY with an unsupported device "
                     "state. state=STATE_0x07 active=0 last_command=0x03 last_status=BUSY "
                     "expected=0 received=0"},
        TransferCase{"AbortThatChangesNothing",
                     "transfer = state=ERROR active=0\n[faults]\nABORT_UPDATE 1 = status OK\n",
                     0x03,
                     "Sending firmware ABORT_UPDATE did not return the bootloader to IDLE. "
                     "state=ERROR active=0 last_command=0x03 last_status=BUSY expected=0 "
                     "received=0"},
        TransferCase{"RefusedThirdChunk", "[faults]\nDATA_CHUNK 3 = status OFFSET_MISMATCH\n", 0x03,
                     "Sending firmware DATA_CHUNK failed at offset 102: OFFSET_MISMATCH"},
        TransferCase{"IncompatibleImage", "", 0x02,
                     "Firmware rejected by device: incompatible update firmware. Device "
                     "compatibility 0x03, firmware compatibility 0x02."},
        TransferCase{"UnpluggedDuringTransfer", "[faults]\nDATA_CHUNK 2 = unplug\n", 0x03,
                     "HID read failed (Windows error 1167)."}),
    [](const ::testing::TestParamInfo<TransferCase>& row) { return row.param.name; });

}  // namespace
}  // namespace velkora::testing
