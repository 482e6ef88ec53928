#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <regex>
#include <sstream>

#include "app/entry_point.h"
#include "common/console.h"
#include "common/exceptions.h"
#include "common/run_log.h"
#include "common/text.h"
#include "tests/support/bench.h"

namespace velkora {
namespace {

using testing::outcomeOf;
using testing::readFileText;

// A console whose transcript shows the flushed screen at each read, then "<line>" or "<end>".
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

// Lines typed ("|" apart, "^D" closes the input): all but the last refused, or a safe answer.
TEST(ConsoleQuestions, TakeTheirAnswersTrimmedInAnyCaseAndAskAgainOtherwise) {
    using Ask = std::function<std::string(ConsoleIo&)>;
    const std::string menu =
        "Select an option:\n1. Update firmware\n2. View fault log\n3. Start device\n"
        "4. Exit and leave device in bootloader\n5. Restart updater\n";
    const std::string yesNo = "Please answer Y or N.\n";
    const std::map<std::string, std::tuple<Ask, std::string, std::string>> questions = {
        {"menu",
         {[](ConsoleIo& io) { return std::to_string(showMainMenu(io, false)); },
          menu + "Selection: ", "Please select 1 through 5.\n\n"}},
        {"menu6",
         {[](ConsoleIo& io) { return std::to_string(showMainMenu(io, true)); },
          menu + "6. Configuration\nSelection: ", "Please select 1 through 6.\n\n"}},
        {"yes/no",
         {[](ConsoleIo& io) { return askYesNo(io, "Clear? ") ? "yes" : "no"; }, "Clear? ", yesNo}},
        {"session",
         {[](ConsoleIo& io) { return askYesNo(io, "?", OnClosedInput::EndSession) ? "yes" : "no"; },
          "?", yesNo}},
        {"restart",
         {[](ConsoleIo& io) { return askRestartAfterUpdate(io) ? "restart" : "close"; },
          "Update complete.\n\nPress R to restart updater and wait for another Velkora.\n"
          "Press Enter to close.\nSelection: ",
          "Press R to restart updater or Enter to close.\n\n"}},
        {"line", {[](ConsoleIo& io) { return readConsoleLine(io, "A: "); }, "A: ", ""}},
    };
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"menu", "03|3.|33|0|x|6|  5\t", "5"},
        {"menu6", "|7|:|\t1 \r", "1"},
        {"menu", "9|^D", "Console input closed."},
        {"yes/no", "ye|nope||Y\xC3\xA9|\xC3\x9D|  YES  ", "yes"},
        {"yes/no", "maybe|nO\r", "no"},
        {"yes/no", "x|^D", "no"},
        {"session", "^D", "Console input closed; configuration session ended."},
        {"restart", "x|q|restarts| Restart\t", "restart"},
        {"restart", "x| \t \r", "close"},
        {"restart", "^D", "close"},
        {"line", "  item 3 ", "item 3"},
    };
    for (const auto& [name, typed, answer] : cases) {
        const auto& [ask, question, refusal] = questions.at(name);
        std::string input;
        std::string transcript;
        std::istringstream lines(typed);
        for (std::string line; std::getline(lines, line, '|');) {
            transcript += (transcript.empty() ? "" : refusal) + question;
            transcript += line == "^D" ? "<end>" : "<" + line + ">";
            input += line == "^D" ? "" : line + "\n";
        }
        transcript += name == "yes/no" && typed.ends_with("^D") ? "\n" : "";  // ends the line
        Console console(input);
        EXPECT_EQ(outcomeOf([&] { return ask(console.io); }), answer) << typed;
        EXPECT_EQ(console.transcript(), transcript) << typed;
    }
}

// A last line without a line break counts, and the pause still waits; case changes A to Z only.
TEST(ConsoleQuestions, TheClosingPauseWaitsForOneLine) {
    Console console("last");
    EXPECT_EQ(readConsoleLine(console.io, "A: "), "last");
    waitForEnterToClose(console.io);
    EXPECT_EQ(console.transcript(), "A: <last><end>\nPress Enter to close.<end>");
    EXPECT_EQ(toLowerAscii("@AZ[`az{\xC3\x80") + toUpperAscii("@AZ[`az{"),
              "@az[`az{\xC3\x80@AZ[`AZ{");
}

std::vector<platform::NativeString> commandLine(const std::string& words) {
    std::vector<platform::NativeString> arguments;
    std::istringstream split(words);
    for (std::string word; split >> word;) {
        arguments.push_back(platform::fromUtf8(word));
    }
    return arguments;
}

// Each ending's message, pause and exit code; every run, restarts too, has guard and flag.
TEST(EntryPoint, EachEndingHasItsMessagePauseAndExitCode) {
    using Claim = platform::InstanceClaimOutcome;
    const auto failure = [](auto exception) { return std::make_exception_ptr(exception); };
    const std::tuple<Claim, std::exception_ptr, std::string, int> cases[] = {
        {Claim::Failed, {}, "\nUnable to start the updater.\n", 1},
        {Claim::AlreadyRunning, {}, "\nAnother Velkora Firmware Updater is already running.\n", 0},
        {Claim::Acquired, {}, "", 0},
        {Claim::Acquired, failure(UserCancelled(false)), "\nUpdate cancelled.\n", 0},
        {Claim::Acquired, failure(UserCancelled(true)), "", 0},
        {Claim::Acquired, failure(ConfigurationFailure("Lost.")),
         "\nConfiguration failed.\nLost.\n", 1},
        {Claim::Acquired, failure(std::runtime_error("Busy.")), "\nUpdate failed.\nBusy.\n", 1},
        {Claim::Acquired, failure(RestartRequested()), "", 0},
    };
    for (const auto& [claim, thrown, output, exitCode] : cases) {
        testing::Bench bench("\n");
        bench.host.claimOutcome = claim;
        unsigned runs = 0;
        const auto run = [&](bool serviceMode) {
            EXPECT_TRUE(serviceMode && bench.host.claimsHeld == 1);
            if (++runs < 3 && thrown) {
                std::rethrow_exception(thrown);
            }
        };
        EXPECT_EQ(runEntryPoint(bench.services, commandLine("updater --Service"), run), exitCode);
        EXPECT_EQ(bench.out.str(), output.empty() ? "" : output + "\nPress Enter to close.");
        EXPECT_EQ(runs, claim != Claim::Acquired                             ? 0u
                        : thrown == std::get<1>(cases[std::size(cases) - 1]) ? 3u
                                                                             : 1u);
        EXPECT_EQ(bench.host.claimsHeld, 0);
    }
    EXPECT_FALSE(isServiceModeRequested(commandLine("--service -service --service2 --servic")));
    EXPECT_TRUE(isServiceModeRequested(commandLine("updater x --SERVICE y")));
}

// Stamped log lines on disk at once (CR LF on Windows); dumps byte for byte, in names to _9999.
TEST(RunLog, EachRunGetsANewLogOfStampedLinesThatAreOnDiskAtOnce) {
    testing::TempFolder folder;
    testing::ManualClock clock;
    const std::string start = fileTimestamp(clock.calendarTime());
    const std::string stamp = lineTimestamp(clock.calendarTime());
    RunLog first = openRunLog(folder.path(), clock);
    first.writeLine("device serial=ABC");
    first.writeLine("");
    RunLog second = openRunLog(folder.path(), clock);
    clock.advance(1000);
    const std::regex sameTime(R"((\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)\|\1\2\3_\4\5\6)");
    EXPECT_TRUE(std::regex_match(stamp + "|" + start, sameTime)) << stamp << " " << start;
    const std::filesystem::path logs = folder.path() / "logs";
    const std::string next = fileTimestamp(clock.calendarTime());
    EXPECT_EQ(first.path(), logs / ("update_" + start + ".log"));
    EXPECT_EQ(second.path(), logs / ("update_" + start + "_1.log"));
    const std::string end = std::filesystem::path::preferred_separator == '\\' ? "\r\n" : "\n";
    EXPECT_EQ(readFileText(first.path()), stamp + " device serial=ABC" + end + stamp + " " + end);

    std::filesystem::create_directory(logs / ("fault_dump_" + next + "_1.txt"));
    const std::string text("line\nnext\r\nzero\0byte", 20);
    EXPECT_EQ(second.writeFaultDump(text), logs / ("fault_dump_" + next + ".txt"));
    EXPECT_EQ(second.writeFaultDump("b"), logs / ("fault_dump_" + next + "_2.txt"));
    EXPECT_EQ(readFileText(logs / ("fault_dump_" + next + ".txt")), text);
#ifndef _WIN32  // the same code on Windows; spares the Wine run 10,000 new files
    for (int n = 3; n < 9999; ++n) {
        std::ofstream(logs / ("fault_dump_" + next + "_" + std::to_string(n) + ".txt"));
    }
    EXPECT_EQ(second.writeFaultDump("c"), logs / ("fault_dump_" + next + "_9999.txt"));
    EXPECT_EQ(outcomeOf([&] { second.writeFaultDump("d"); }),
              "Unable to create a unique fault-dump file.");
#endif
}

}  // namespace
}  // namespace velkora
