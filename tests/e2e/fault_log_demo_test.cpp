#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/demo_program.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {
namespace {

// The demo program, velkora-updater-demo, started as a user starts it, with the answers
// piped into its standard input: the updater's own entry point against the default simulated
// adapter, in real time.

// The default adapter's fault log as the console shows it, line ends as "\n".
const std::string kDefaultFaultLog =
    "Total number of faults: 5\n"
    "\nFault 001\nCharging Overcurrent\nCurrent: -100 mA\nPhone Voltage: 5120 mV\n"
    "\nFault 002\nOvertemperature\nTemperature: 85 C\n"
    "\nFault 003\nPower Switch Fault\nCurrent: 1250 mA\nStatus: Weld indication\n"
    "\nFault 004\nProtocol Event\nX: 2\nEvent Value 1: 12\nEvent Value 2: 3\n"
    "\nFault 005\nNormal Operation Marker\nCurrent: 0 mA\nPhone Voltage: 5000 mV\n";
const std::string kEmptyFaultLog = "Total number of faults: 0\nNo faults are stored.\n";

struct DemoSession {
    std::string output;
    int exitCode = 0;
    std::vector<std::string> savedFaultLogs;  // in the order of their names, that is of time
};

DemoSession runDemo(const std::vector<std::string>& arguments, const std::string& answers) {
    const InstalledDemo demo;
    const DemoOutput run = demo.run(arguments, answers);
    DemoSession session{run.console, run.exitCode, {}};
    std::vector<std::filesystem::path> saved;
    for (const auto& entry : std::filesystem::directory_iterator(demo.folder() / "logs")) {
        if (entry.path().filename().string().starts_with("fault_dump_")) {
            saved.push_back(entry.path());
        }
    }
    std::sort(saved.begin(), saved.end());
    for (const std::filesystem::path& file : saved) {
        session.savedFaultLogs.push_back(readFileText(file));
    }
    return session;
}

std::string crLf(const std::string& text) {
    std::string withCr;
    for (const char c : text) {
        if (c == '\n') {
            withCr += '\r';
        }
        withCr += c;
    }
    return withCr;
}

TEST(FaultLogDemo, ShowsTheDefaultFaultLogAndReturnsToDetection) {
    const DemoSession session = runDemo({}, "2\n4\n");
    EXPECT_NE(session.output.find("Selection: Starting fault-log mode...\n"
                                  "Starting device and waiting for its management interface...\n"
                                  "Reading fault log...\n\n" +
                                  kDefaultFaultLog + "Returning to adapter detection...\n\n"),
              std::string::npos)
        << session.output;
    EXPECT_TRUE(session.output.ends_with("Leaving the Velkora in bootloader mode.\n"))
        << session.output;
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.savedFaultLogs, std::vector<std::string>{crLf(kDefaultFaultLog)});
}

TEST(FaultLogDemo, InServiceModeClearsTheFaultLog) {
    const DemoSession session = runDemo({"--service"}, "2\ny\nCLEAR\n2\nn\n4\n");
    EXPECT_NE(session.output.find("Reading fault log...\n\n" + kDefaultFaultLog +
                                  "Clear fault log? [Y/N]: Type CLEAR to confirm: "
                                  "Fault log cleared.\nReturning to adapter detection...\n\n"),
              std::string::npos)
        << session.output;
    EXPECT_NE(session.output.find("Reading fault log...\n\n" + kEmptyFaultLog +
                                  "Clear fault log? [Y/N]: Returning to adapter detection...\n\n"),
              std::string::npos)
        << session.output;
    EXPECT_EQ(session.exitCode, 0);
    EXPECT_EQ(session.savedFaultLogs,
              (std::vector<std::string>{crLf(kDefaultFaultLog), crLf(kEmptyFaultLog)}));
}

}  // namespace
}  // namespace velkora::testing
