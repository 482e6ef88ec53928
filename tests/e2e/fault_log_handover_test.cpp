#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/fault_log_session.h"

namespace velkora::testing {
namespace {

// The time from START_APP_USB to the first request on the management interface, or to the
// end of the session when none came.
std::uint64_t handOverMs(const TranscriptResult& result) {
    std::uint64_t started = 0;
    for (const sim::ReceivedRequest& received : result.requests) {
        const std::string name = sim::scenario::commandName(received.request.command);
        if (name == "START_APP_USB") {
            started = received.at / sim::kMicrosPerMs;
        } else if (name == "FAULT_DUMP") {
            return received.at / sim::kMicrosPerMs - started;
        }
    }
    return result.virtualMs - started;
}

struct WaitCase {
    const char* name;
    std::uint32_t appEnumerationMs;  // after the bootloader has left, 20 ms after its answer
    std::string outcome;             // the closing message, or "" when the fault log was shown
};

void PrintTo(const WaitCase& row, std::ostream* out) {
    *out << row.name;
}

class ManagementInterfaceWait : public ::testing::TestWithParam<WaitCase> {};

// The wait for the management interface lasts 15 s of virtual time: an interface that comes up
// by the last poll, at exactly 15 s, is taken; one a millisecond later is not.
TEST_P(ManagementInterfaceWait, LastsFifteenSeconds) {
    const WaitCase& row = GetParam();
    const TranscriptResult result = fault_log::runWithScenario(
        "[timing]\napp_enumeration_ms = " + std::to_string(row.appEnumerationMs) + "\n", {},
        fault_log::typed({"2", "4"}));
    EXPECT_EQ(handOverMs(result), 15000u);
    const std::string console = fault_log::modeConsole(result.printed);
    if (row.outcome.empty()) {
        EXPECT_TRUE(console.ends_with("Returning to adapter detection...\n\n")) << console;
        EXPECT_EQ(result.exitCode, 0);
    } else {
        EXPECT_TRUE(
            console.ends_with("\nUpdate failed.\n" + row.outcome + "\n\nPress Enter to close."))
            << console;
        EXPECT_EQ(fault_log::modeRequests(result), std::vector<std::string>{"START_APP_USB 4"});
        EXPECT_EQ(result.exitCode, 1);
    }
    EXPECT_EQ(result.openConnections, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Timing, ManagementInterfaceWait,
    ::testing::Values(WaitCase{"UpAtTheLastPoll", 14980, ""},
                      WaitCase{"UpAMillisecondTooLate", 14981,
                               "Timed out waiting for the Velkora management interface."}),
    [](const ::testing::TestParamInfo<WaitCase>& row) { return row.param.name; });

// The HID bus as the simulator shows it, except that the management interface cannot be
// opened, as when another program holds it exclusively.
class ManagementInterfaceLocked final : public platform::HidPort {
  public:
    explicit ManagementInterfaceLocked(platform::HidPort& bus) : bus_(bus) {}

    std::vector<platform::HidDeviceInfo> enumerate() override {
        std::vector<platform::HidDeviceInfo> devices = bus_.enumerate();
        for (const platform::HidDeviceInfo& device : devices) {
            if (device.product == "Velkora Management Interface") {
                locked_.insert(device.path);
            }
        }
        return devices;
    }

    platform::HidOpenResult open(const platform::NativeString& path) override {
        if (locked_.contains(path)) {
            return {nullptr, "Windows error 5"};
        }
        return bus_.open(path);
    }

  private:
    platform::HidPort& bus_;
    std::set<platform::NativeString> locked_;
};

// A management interface that cannot be opened ends the mode without EXIT: there is no
// connection to send it on.
TEST(FaultLogHandOver, AManagementInterfaceThatCannotBeOpenedGetsNoExit) {
    const TranscriptResult result = fault_log::runWithScenario(
        fault_log::kHealthyAdapter, {}, fault_log::typed({"2"}),
        [](platform::Services& services, const std::vector<std::string>& arguments) {
            ManagementInterfaceLocked bus(services.hid);
            platform::Services locked{services.clock, bus,         services.keys,
                                      services.host,  services.in, services.out};
            return runRealEntryPoint(locked, arguments);
        });
    EXPECT_EQ(fault_log::modeConsole(result.printed),
              "Starting fault-log mode...\n"
              "Starting device and waiting for its management interface...\n"
              "\nUpdate failed.\nUnable to open HID device. Windows error 5\n\nPress Enter to "
              "close.");
    EXPECT_EQ(fault_log::modeLog(result),
              (std::vector<std::string>{"START_APP_USB succeeded; waiting for application HID",
                                        "Velkora management interface detected"}));
    EXPECT_EQ(fault_log::modeRequests(result), std::vector<std::string>{"START_APP_USB 4"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.openConnections, 0u);
}

}  // namespace
}  // namespace velkora::testing
