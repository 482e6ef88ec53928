#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
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
        // The terminal leaves line mode once the wait reads single keys.
        for (int tries = 0; tries < 200 && demo->terminalInLineMode(); ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return demo;
    }

    testing::DemoCopy copy_{"[adapter]\nidentity = absent\n"};
};

// Each row's bytes arrive at once, as a terminal sends one key press. After a row that does
// not cancel, the wait still reads single keys, and a q then cancels it.
TEST_F(TerminalKeys, OnlyQAndALoneEscCancelTheWait) {
    const struct {
        const char* keys;
        bool cancels;
    } cases[] = {
        {"q", true},          {"Q", true},       {"\x1b", true},
        {"x", false},         {"\x1b[A", false},  // an arrow key
        {"\x1b[1;2Q", false},                     // shift and F2: its final byte is no Q
        {"\x1bOQ", false},                        // F2 in the other form: neither is this Q
        {"\x1bxq", true},                         // alt and x, then q
    };
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
