#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {
namespace {

// The demo program, velkora-updater-demo, started as a user starts it, with the answers
// piped into its standard input: the updater's own entry point against the default simulated
// adapter, in real time. The demo is copied with its scenario and firmware package into a
// folder of the test's own, so that its logs and saved fault logs land there.

#ifdef _WIN32
constexpr const char* kDemoName = "velkora-updater-demo.exe";
#else
constexpr const char* kDemoName = "velkora-updater-demo";
#endif

// The default adapter's fault log as the console shows it, line ends as "\n".
const std::string kDefaultFaultLog =
    "Total number of faults: 5\n"
    "\nFault 001\nCharging Overcurrent\nCurrent: -100 mA\nPhone Voltage: 5120 mV\n"
    "\nFault 002\nOvertemperature\nTemperature: 85 C\n"
    "\nFault 003\nPower Switch Fault\nCurrent: 1250 mA\nStatus: Weld indication\n"
    "\nFault 004\nProtocol Event\nX: 2\nEvent Value 1: 12\nEvent Value 2: 3\n"
    "\nFault 005\nNormal Operation Marker\nCurrent: 0 mA\nPhone Voltage: 5000 mV\n";
const std::string kEmptyFaultLog = "Total number of faults: 0\nNo faults are stored.\n";

// The fault log text ends its lines with CR LF; a Windows console in text mode adds a CR of
// its own. Comparing without CRs reads the same on both platforms.
std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

struct DemoSession {
    std::string output;
    int exitCode = 0;
    std::vector<std::string> savedFaultLogs;  // in the order of their names, that is of time
};

DemoSession runDemo(const std::vector<std::string>& arguments, const std::string& answers) {
    const std::filesystem::path built = programsFolder().parent_path() / "demo";
    TempFolder folder;
    std::filesystem::copy_file(built / kDemoName, folder.path() / kDemoName);
    std::filesystem::copy(built / "scenarios", folder.path() / "scenarios");
    std::filesystem::copy(built / "firmware", folder.path() / "firmware");

    DemoSession session;
    {
        // Its own runtime folder keeps the demo's single-instance guard apart from a real
        // updater of the user's.
        ChildProcess demo(folder.path() / kDemoName, arguments,
                          {"XDG_RUNTIME_DIR=" + folder.path().string()});
        demo.writeInput(answers);
        demo.closeInput();
        session.output = withoutCarriageReturns(demo.readAll());
        session.exitCode = demo.wait();
    }
    std::vector<std::filesystem::path> saved;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path() / "logs")) {
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
