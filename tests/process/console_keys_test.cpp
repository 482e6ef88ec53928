#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "tests/process/demo_copy.h"

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
    // Keys are written at once, as a terminal sends the bytes of one key press.
    static void press(testing::ChildProcess& demo, const std::string& keys) {
        demo.writeInput(keys);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }

    testing::DemoCopy copy_{"[adapter]\nidentity = absent\n"};
};

TEST_F(TerminalKeys, OnlyQAndALoneEscCancelTheWait) {
    const struct {
        const char* ignored;  // pressed first, must leave the wait going
        const char* cancel;
    } cases[] = {
        {"", "q"}, {"x", "Q"}, {"\x1b[A", "\x1b"}, {"\x1bOP\x1b[1;5C", "q"}, {"\t", "\x1b"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        auto demo = waiting();
        press(*demo, c.ignored);
        press(*demo, c.cancel);
        EXPECT_EQ(demo->readUntil("Press Enter to close."),
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

}  // namespace
}  // namespace velkora
