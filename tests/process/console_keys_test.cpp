#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include "tests/process/child_process.h"

namespace velkora {
namespace {

// The wait for the adapter on a real terminal: the demo program, whose keys are the system's
// own, on a pseudo-terminal of its own, with an adapter that never comes. Q, q and a lone Esc
// cancel; any other key, and the escape sequence of an arrow or function key taken whole, do
// not. Whichever way the program ends, the terminal reads lines and echoes them again.
class TerminalKeys : public ::testing::Test {
  protected:
    std::unique_ptr<testing::ChildProcess> waiting() {
        auto demo = copy_.start(true);
        demo->readUntil("Press Q or Esc to cancel.\r\n");
        demo->awaitSingleKeys();
        return demo;
    }

    testing::DemoCopy copy_{"[adapter]\nidentity = absent\n"};
};

// Each row's bytes arrive at once, as a terminal sends one key press.
const struct KeyRow {
    const char* keys;
    bool cancels;
} kKeyRows[] = {
    {"q", true},          {"Q", true},       {"\x1b", true},
    {"x", false},         {"\x1b[A", false},  // an arrow key
    {"\x1b[1;2Q", false},                     // shift and F2: its final byte is no Q
    {"\x1bOQ", false},                        // F2 in the other form: neither is this Q
    {"\x1bxq", true},                         // alt and x, then q
    {"\x1b[Aq", true},  // a sequence ends at its final byte: the q after it cancels
    {"\x1b[3~q", true},   {"\x1b[@q", true},
};

// After a row that does not cancel, the wait still reads single keys, and a q then cancels it.
TEST_F(TerminalKeys, OnlyQAndALoneEscCancelTheWait) {
    const auto& cases = kKeyRows;
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        auto demo = waiting();
        demo->writeInput(c.keys);
        if (!c.cancels) {
            // Long enough for the wait to read whatever a wrong parse would have left over.
            std::this_thread::sleep_for(std::chrono::milliseconds(800));
            EXPECT_FALSE(demo->terminalInLineMode()) << "still waiting for single keys";
            demo->writeInput("q");
        }
        // A demo still waiting would not end: the test stops, and its copy of the demo ends it.
        ASSERT_EQ(demo->readUntil("Press Enter to close."),
                  "\r\nUpdate cancelled.\r\n\r\nPress Enter to close.");
        demo->writeInput("\n");
        EXPECT_EQ(demo->wait(), 0);
        EXPECT_TRUE(demo->terminalInLineMode());
    }
}

// The console text of the Windows program on a terminal: Wine draws its console with escape
// sequences, moving the cursor over blanks; what a reader would see is left.
std::string drawnText(const std::string& output) {
    static const std::regex forward("\x1b\\[([0-9]*)C"),
        other("\x1b\\[[0-9;?]*[A-Za-z]|\x1b\\][^\x07]*\x07|\r");
    std::string text;
    std::sregex_iterator at(output.begin(), output.end(), forward), end;
    auto copied = output.begin();
    for (; at != end; ++at) {
        text.append(copied, (*at)[0].first);
        text.append(static_cast<std::size_t>((*at)[1].length() ? std::stoi((*at)[1]) : 1), ' ');
        copied = (*at)[0].second;
    }
    text.append(copied, output.end());
    return std::regex_replace(text, other, "");
}

// The same rows for the Windows program, the demo .exe under Wine with the terminal as its
// console, when VELKORA_WINDOWS_DEMO names the Windows demo's folder (scripts/test does so
// while a wineserver runs). Two limits of Wine 8's terminal console shape it:
// - It starts reading the terminal only once a program reads console input, and the wait
//   merely asks whether a key is there: the demo runs behind cmd's "set /p", whose one
//   answered line sets the console reading.
// - It turns a lone Esc into a key event without the Esc character, which the C runtime's
//   _getch passes over, where Windows' own console hands over 27: that row is the Linux
//   program's alone (the code that tells the keys apart is the same on both).
TEST(WindowsTerminalKeys, OnlyQCancelsTheWait) {
    const char* built = std::getenv("VELKORA_WINDOWS_DEMO");
    if (built == nullptr) {
        GTEST_SKIP() << "VELKORA_WINDOWS_DEMO is not set";
    }
    namespace fs = std::filesystem;
    testing::TempFolder folder, runtime;
    fs::copy(built, folder.path(), fs::copy_options::recursive);
    testing::writeFileText(folder.path() / "absent.scn", "[adapter]\nidentity = absent\n");
    std::string windowsFolder = "Z:" + folder.path().string();
    std::replace(windowsFolder.begin(), windowsFolder.end(), '/', '\\');
    const std::string command = "set /p answer=Wine console: &" + windowsFolder +
                                "\\velkora-updater-demo.exe --scenario " + windowsFolder +
                                "\\absent.scn";
    const auto waiting = [&] {
        auto demo = std::make_unique<testing::ChildProcess>(
            std::vector<std::string>{"/usr/bin/wine", "cmd", "/c", command}, runtime.path(), true);
        demo->readUntil("Wine console:", drawnText);
        // Typed before the console reads the terminal, the line would end in a line feed,
        // which is no Enter key to it.
        demo->awaitSingleKeys();
        demo->writeInput("\r");
        demo->readUntil("Press Q or Esc to cancel.", drawnText);
        return demo;
    };
    const auto cancelled = [](testing::ChildProcess& demo) {
        const std::string shown = drawnText(demo.readUntil("Press Enter to close.", drawnText));
        EXPECT_EQ(shown.substr(std::min(shown.find_first_not_of('\n'), shown.size())),
                  "Update cancelled.\n\nPress Enter to close.");
        demo.writeInput("\r");
        EXPECT_EQ(demo.wait(), 0);
    };
    auto demo = waiting();  // all the rows that do not cancel, one after the other
    for (const KeyRow& row : kKeyRows) {
        if (!row.cancels) {
            demo->writeInput(row.keys);
            EXPECT_EQ(drawnText(demo->readUntil("cancelled", drawnText, 800)).find("cancelled"),
                      std::string::npos)
                << row.keys + 1;
        }
    }
    demo->writeInput("q");
    cancelled(*demo);
    for (const KeyRow& row : kKeyRows) {
        if (row.cancels && std::string_view(row.keys) != "\x1b") {
            SCOPED_TRACE(row.keys);
            demo = waiting();
            demo->writeInput(row.keys);
            cancelled(*demo);
        }
    }
}

TEST_F(TerminalKeys, ASignalDuringTheWaitLeavesTheTerminalAsItWas) {
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        auto demo = waiting();
        ASSERT_FALSE(demo->terminalInLineMode()) << "single keys while waiting";
        demo->signal(number);
        EXPECT_EQ(demo->wait(), 128 + number);
        EXPECT_TRUE(demo->terminalInLineMode()) << number;
    }
}

// The wait's own signal handlers go when it ends: an interrupt that the updater's parent
// ignores, as a shell does for a program in the background, stays ignored at the menu.
TEST(TerminalKeysAfterTheWait, AnIgnoredInterruptStaysIgnored) {
    const testing::DemoCopy copy(
        "[bootloader]\ncompatibility = 0x03\n[application]\ncompatibility = 0x03\n"
        "[timing]\nplug_in_ms = 300\n");
    const auto previous = std::signal(SIGINT, SIG_IGN);
    const auto demo = copy.start(true);
    std::signal(SIGINT, previous);
    demo->readUntil("Selection: ");
    demo->signal(SIGINT);
    demo->writeInput("4\n");
    EXPECT_EQ(demo->wait(), 0);
}

}  // namespace
}  // namespace velkora
