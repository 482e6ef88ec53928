#include <gtest/gtest.h>

#include <functional>
#include <istream>
#include <map>
#include <ostream>
#include <sstream>

#include "app/common/console.h"
#include "app/common/exceptions.h"
#include "app/common/text.h"
#include "app/entry_point.h"
#include "tests/platform/outcome.h"
#include "tests/support/fake_services.h"

namespace velkora {
namespace {

using testing::outcomeOf;

// A console whose transcript shows what stood on the screen, flushed, each time the keyboard
// was asked for more: then "<line>" for the line typed, or "<end>" when the input is closed.
// What was printed after the last read follows at the end.
class Console : std::streambuf {
    struct Screen : std::stringbuf {
        std::size_t flushed = 0;
        int sync() override {
            flushed = str().size();
            return 0;
        }
    } screen_;
    std::string typed_;
    std::string line_;
    std::string transcript_;
    std::size_t seen_ = 0;

    int_type underflow() override {
        transcript_ += screen_.str().substr(seen_, screen_.flushed - seen_);
        seen_ = screen_.flushed;
        line_ = typed_.substr(0, std::min(typed_.find('\n'), typed_.size() - 1) + 1);
        typed_.erase(0, line_.size());
        transcript_ += line_.empty() ? "<end>" : "<" + line_.substr(0, line_.find('\n')) + ">";
        setg(line_.data(), line_.data(), line_.data() + line_.size());
        return line_.empty() ? traits_type::eof() : traits_type::to_int_type(line_[0]);
    }

  public:
    explicit Console(std::string typed) : typed_(std::move(typed)) {}
    std::string transcript() const { return transcript_ + screen_.str().substr(seen_); }

    std::istream in{this};
    std::ostream out{&screen_};
    ConsoleIo io{in, out};
};

const std::string kMenu =
    "Select an option:\n1. Update firmware\n2. View fault log\n3. Start device\n"
    "4. Exit and leave device in bootloader\n5. Restart updater\n";
const std::string kAfterUpdate =
    "Update complete.\n\nPress R to restart updater and wait for another Velkora.\n"
    "Press Enter to close.\nSelection: ";

struct Question {
    std::function<std::string(ConsoleIo&)> ask;
    std::string text;
    std::string refusal;
};

// Each question asked with the lines typed, all but the last refused: the answer, and the
// transcript of the dialogue, every question on the screen before its answer was read.
TEST(ConsoleQuestions, TakeTheirAnswersTrimmedInAnyCaseAndAskAgainOtherwise) {
    const std::map<std::string, Question> questions = {
        {"menu",
         {[](ConsoleIo& io) { return std::to_string(showMainMenu(io, false)); },
          kMenu + "Selection: ", "Please select 1 through 5.\n\n"}},
        {"menu6",
         {[](ConsoleIo& io) { return std::to_string(showMainMenu(io, true)); },
          kMenu + "6. Configuration\nSelection: ", "Please select 1 through 6.\n\n"}},
        {"yes/no",
         {[](ConsoleIo& io) { return askYesNo(io, "Clear? ") ? "yes" : "no"; }, "Clear? ",
          "Please answer Y or N.\n"}},
        {"restart",
         {[](ConsoleIo& io) { return askRestartAfterUpdate(io) ? "restart" : "close"; },
          kAfterUpdate, "Press R to restart updater or Enter to close.\n\n"}},
    };
    const std::tuple<std::string, std::vector<std::string>, std::string> cases[] = {
        {"menu", {"3"}, "3"},
        {"menu", {"  3\t"}, "3"},
        {"menu6", {"\t3 \r"}, "3"},
        {"menu", {"03", "3.", "33", "0", "x", "6", "1"}, "1"},
        {"menu", {"5"}, "5"},
        {"menu6", {"", "7", ":", "6"}, "6"},
        {"yes/no", {"YES"}, "yes"},
        {"yes/no", {"  y  "}, "yes"},
        {"yes/no", {"No"}, "no"},
        {"yes/no", {"ye", "nope", "", "Y\xC3\xA9", "\xC3\x9D", "Yes"}, "yes"},
        {"yes/no", {"maybe", "nO\r"}, "no"},
        {"restart", {"R"}, "restart"},
        {"restart", {"x", "q", "restarts", " Restart\t"}, "restart"},
        {"restart", {" r"}, "restart"},
        {"restart", {""}, "close"},
        {"restart", {"x", " \t \r"}, "close"},
    };
    for (const auto& [name, lines, answer] : cases) {
        const Question& question = questions.at(name);
        std::string typed;
        std::string transcript;
        for (const std::string& line : lines) {
            typed += line + "\n";
            transcript +=
                (transcript.empty() ? "" : question.refusal) + question.text + "<" + line + ">";
        }
        Console console(typed);
        EXPECT_EQ(question.ask(console.io), answer) << name << " " << typed;
        EXPECT_EQ(console.transcript(), transcript);
    }
}

// On a closed input, the menu ends the run rather than ask forever; the yes/no question is a
// no, so that nothing destructive happens unanswered, or it ends the session that asked; the
// question after an update closes.
TEST(ConsoleQuestions, AClosedInputGivesTheSafeAnswerOrEndsTheSession) {
    Console menu("9\n");
    EXPECT_EQ(outcomeOf([&] { showMainMenu(menu.io, true); }), "Console input closed.");
    EXPECT_EQ(menu.transcript(), kMenu +
                                     "6. Configuration\nSelection: <9>Please select 1 through "
                                     "6.\n\n" +
                                     kMenu + "6. Configuration\nSelection: <end>");
    Console yesNo("");
    EXPECT_FALSE(askYesNo(yesNo.io, "Clear? "));
    EXPECT_EQ(yesNo.transcript(), "Clear? <end>\n");
    Console ending("");
    EXPECT_EQ(outcomeOf([&] { askYesNo(ending.io, "Clear? ", OnClosedInput::EndSession); }),
              "Console input closed; configuration session ended.");
    Console restart("");
    EXPECT_FALSE(askRestartAfterUpdate(restart.io));
    EXPECT_EQ(restart.transcript(), kAfterUpdate + "<end>");
}

TEST(ConsoleLines, AreReadTrimmedAndTheClosingPauseWaitsEvenAfterTheEnd) {
    Console console("   \n  item 3 \nlast");
    EXPECT_EQ(readConsoleLine(console.io, "A: "), "");
    EXPECT_EQ(readConsoleLine(console.io, "B: "), "item 3");
    EXPECT_EQ(readConsoleLine(console.io, "C: "), "last");
    EXPECT_EQ(outcomeOf([&] { readConsoleLine(console.io, "D: "); }),
              "Console input closed; configuration session ended.");
    waitForEnterToClose(console.io);
    EXPECT_EQ(console.transcript(),
              "A: <   >B: <  item 3 >C: <last><end>D: \nPress Enter to close.<end>");
    Console twoLines("first\nsecond\n");
    waitForEnterToClose(twoLines.io);
    EXPECT_EQ(readConsoleLine(twoLines.io, ""), "second") << "the pause reads one line";
}

TEST(Text, HexTrimAndAsciiCase) {
    const std::uint8_t bytes[] = {0x00, 0x9F, 0xFA, 0x10};
    EXPECT_EQ(formatHexByte(0x05) + formatHexByte(0xA3) + formatHexBytes(bytes),
              "0x050xA3009FFA10");
    EXPECT_EQ(trimWhitespace(" \t\r\n a \t b\v\f\n\r ") + trimWhitespace(" \t\r\n"), "a \t b\v\f");
    EXPECT_EQ(toLowerAscii("@AZ[`az{\xC3\x80\xDD"), "@az[`az{\xC3\x80\xDD");
    EXPECT_EQ(toUpperAscii("@AZ[`az{\xC3\xA0\xFD"), "@AZ[`AZ{\xC3\xA0\xFD");
}

std::vector<platform::NativeString> commandLine(const std::string& words) {
    std::vector<platform::NativeString> arguments;
    std::istringstream split(words);
    for (std::string word; split >> word;) {
        arguments.push_back(platform::fromUtf8(word));
    }
    return arguments;
}

// Every way a run can end becomes one closing message, a pause where there is something to
// read, and the exit code; the guard is released when the entry point returns.
TEST(EntryPoint, EachEndingHasItsMessagePauseAndExitCode) {
    using platform::InstanceClaimOutcome;
    const std::string pause = "\nPress Enter to close.";
    const std::tuple<InstanceClaimOutcome, std::exception_ptr, std::string, int> cases[] = {
        {InstanceClaimOutcome::Failed, {}, "\nUnable to start the updater.\n" + pause, 1},
        {InstanceClaimOutcome::AlreadyRunning,
         {},
         "\nAnother Velkora Firmware Updater is already running.\n" + pause,
         0},
        {InstanceClaimOutcome::Acquired, {}, "", 0},
        {InstanceClaimOutcome::Acquired, std::make_exception_ptr(UserCancelled(false)),
         "\nUpdate cancelled.\n" + pause, 0},
        {InstanceClaimOutcome::Acquired, std::make_exception_ptr(UserCancelled(true)), "", 0},
        {InstanceClaimOutcome::Acquired, std::make_exception_ptr(ConfigurationFailure("Lost.")),
         "\nConfiguration failed.\nLost.\n" + pause, 1},
        {InstanceClaimOutcome::Acquired, std::make_exception_ptr(std::runtime_error("Busy.")),
         "\nUpdate failed.\nBusy.\n" + pause, 1},
        {InstanceClaimOutcome::Acquired, std::make_exception_ptr(std::out_of_range("Range.")),
         "\nUpdate failed.\nRange.\n" + pause, 1},
    };
    for (const auto& [claim, failure, output, exitCode] : cases) {
        testing::FakeServices fake(".", "\n");
        fake.host.claimOutcome = claim;
        int runs = 0;
        const auto run = [&](bool) {
            ++runs;
            if (failure) {
                std::rethrow_exception(failure);
            }
        };
        EXPECT_EQ(runEntryPoint(fake.services(), commandLine("updater"), run), exitCode);
        EXPECT_EQ(fake.output(), output);
        EXPECT_EQ(runs, claim == InstanceClaimOutcome::Acquired ? 1 : 0);
        EXPECT_EQ(fake.host.claimsHeld, 0);
    }

    // A restart runs again, under the same guard, with the service flag of the command line.
    testing::FakeServices fake(".");
    std::vector<bool> serviceFlags;
    const auto restartTwice = [&](bool serviceMode) {
        serviceFlags.push_back(serviceMode);
        EXPECT_EQ(fake.host.claimsHeld, 1);
        if (serviceFlags.size() < 3) {
            throw RestartRequested();
        }
    };
    EXPECT_EQ(runEntryPoint(fake.services(), commandLine("updater --Service"), restartTwice), 0);
    EXPECT_EQ(serviceFlags, (std::vector<bool>{true, true, true}));
    EXPECT_EQ(fake.output(), "") << "a restart prints nothing of its own";
}

TEST(EntryPoint, TheServiceSwitchInAnyCaseAtAnyPositionAfterTheProgram) {
    const std::pair<std::string, bool> cases[] = {
        {"updater", false},
        {"updater --service", true},
        {"updater x y --SerVice", true},
        {"updater --SERVICE x", true},
        {"updater -service", false},
        {"updater --service2", false},
        {"updater --servic", false},
        {"--service", false},
        {"", false},
    };
    for (const auto& [words, serviceMode] : cases) {
        EXPECT_EQ(isServiceModeRequested(commandLine(words)), serviceMode) << words;
    }
}

}  // namespace
}  // namespace velkora
