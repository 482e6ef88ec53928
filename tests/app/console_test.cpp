#include "app/common/console.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace velkora {
namespace {

// A console fed with the given input, recording what was printed.
struct ScriptedConsole {
    explicit ScriptedConsole(const std::string& input) : in(input) {}
    std::istringstream in;
    std::ostringstream out;
    ConsoleIo io{in, out};
};

const std::string kMenu5 =
    "Select an option:\n1. Update firmware\n2. View fault log\n3. Start device\n"
    "4. Exit and leave device in bootloader\n5. Restart updater\nSelection: ";
const std::string kMenu6 =
    "Select an option:\n1. Update firmware\n2. View fault log\n3. Start device\n"
    "4. Exit and leave device in bootloader\n5. Restart updater\n6. Configuration\nSelection: ";

// The message a question fails with; "(answered)" when it does not fail.
template <typename Ask>
std::string failureOf(Ask ask) {
    try {
        ask();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(answered)";
}

struct MenuCase {
    std::string input;
    bool configurationAllowed;
    int choice;
    int menusShown;
};

class MainMenu : public ::testing::TestWithParam<MenuCase> {};

TEST_P(MainMenu, AcceptsOneDigitAfterTrimmingAndReprintsOtherwise) {
    const MenuCase& c = GetParam();
    ScriptedConsole console(c.input);
    EXPECT_EQ(showMainMenu(console.io, c.configurationAllowed), c.choice);
    const std::string& menu = c.configurationAllowed ? kMenu6 : kMenu5;
    const std::string rejection = c.configurationAllowed ? "Please select 1 through 6.\n\n"
                                                         : "Please select 1 through 5.\n\n";
    std::string expected;
    for (int i = 1; i < c.menusShown; ++i) {
        expected += menu + rejection;
    }
    expected += menu;
    EXPECT_EQ(console.out.str(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MainMenu,
    ::testing::Values(MenuCase{"3\n", false, 3, 1}, MenuCase{"  3\t\n", false, 3, 1},
                      MenuCase{"\t3 \r\n", true, 3, 1}, MenuCase{"03\n3.\n33\n1\n", false, 1, 4},
                      MenuCase{"6\n5\n", false, 5, 2}, MenuCase{"6\n", true, 6, 1},
                      MenuCase{"\n0\n7\n2", true, 2, 4}, MenuCase{"4", false, 4, 1}));

TEST(MainMenu, ClosedInputEndsTheRunInsteadOfAskingForever) {
    ScriptedConsole console("9\n");
    EXPECT_EQ(failureOf([&] { showMainMenu(console.io, true); }), "Console input closed.");
    EXPECT_EQ(console.out.str(), kMenu6 + "Please select 1 through 6.\n\n" + kMenu6);
}

struct YesNoCase {
    std::string input;
    bool answer;
    int rejections;
};

class YesNo : public ::testing::TestWithParam<YesNoCase> {};

TEST_P(YesNo, AcceptsYesAndNoInAnyCaseWithBlanks) {
    const YesNoCase& c = GetParam();
    ScriptedConsole console(c.input);
    EXPECT_EQ(askYesNo(console.io, "Clear? [Y/N]: "), c.answer);
    std::string expected;
    for (int i = 0; i < c.rejections; ++i) {
        expected += "Clear? [Y/N]: Please answer Y or N.\n";
    }
    expected += "Clear? [Y/N]: ";
    EXPECT_EQ(console.out.str().substr(0, expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, YesNo,
    ::testing::Values(YesNoCase{"YES\n", true, 0}, YesNoCase{"Yes\n", true, 0},
                      YesNoCase{"  y  \n", true, 0}, YesNoCase{"No\n", false, 0},
                      YesNoCase{"n\r\n", false, 0}, YesNoCase{"ye\nnope\n\nY\n", true, 3},
                      // A closed input is a no: nothing destructive happens unanswered.
                      YesNoCase{"", false, 0}, YesNoCase{"maybe\n", false, 1}));

struct AfterUpdateCase {
    std::string input;
    bool restart;
    int rejections;
};

class AfterUpdate : public ::testing::TestWithParam<AfterUpdateCase> {};

TEST_P(AfterUpdate, RestartsOnROrRestartAndClosesOnEnter) {
    const AfterUpdateCase& c = GetParam();
    ScriptedConsole console(c.input);
    EXPECT_EQ(askRestartAfterUpdate(console.io), c.restart);
    const std::string question =
        "Update complete.\n\nPress R to restart updater and wait for another Velkora.\n"
        "Press Enter to close.\nSelection: ";
    std::string expected;
    for (int i = 0; i < c.rejections; ++i) {
        expected += question + "Press R to restart updater or Enter to close.\n\n";
    }
    EXPECT_EQ(console.out.str(), expected + question);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, AfterUpdate,
    ::testing::Values(AfterUpdateCase{"R\n", true, 0}, AfterUpdateCase{"Restart\n", true, 0},
                      AfterUpdateCase{"   r\n", true, 0}, AfterUpdateCase{"x\nq\nr\n", true, 2},
                      AfterUpdateCase{"\n", false, 0}, AfterUpdateCase{" \t \n", false, 0},
                      AfterUpdateCase{"", false, 0}, AfterUpdateCase{"x\n", false, 1}));

TEST(WaitForEnter, ReturnsAtOnceOnAClosedInputEvenAfterAnEarlierEnd) {
    ScriptedConsole console("");
    std::string ignored;
    std::getline(console.in, ignored);  // an earlier read reached the end
    waitForEnterToClose(console.io);
    EXPECT_EQ(console.out.str(), "\nPress Enter to close.");
}

TEST(WaitForEnter, ConsumesOneLine) {
    ScriptedConsole console("first\nsecond\n");
    waitForEnterToClose(console.io);
    std::string rest;
    std::getline(console.in, rest);
    EXPECT_EQ(rest, "second");
}

TEST(ReadConsoleLine, TrimsAndKeepsALastLineWithoutEnding) {
    ScriptedConsole console("   \n  item 3 \nlast");
    EXPECT_EQ(readConsoleLine(console.io, "A: "), "");
    EXPECT_EQ(readConsoleLine(console.io, "B: "), "item 3");
    EXPECT_EQ(readConsoleLine(console.io, "C: "), "last");
    EXPECT_EQ(failureOf([&] { readConsoleLine(console.io, "D: "); }),
              "Console input closed; configuration session ended.");
    EXPECT_EQ(console.out.str(), "A: B: C: D: ");
}

}  // namespace
}  // namespace velkora
