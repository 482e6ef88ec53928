#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "cli/cli_entry.h"
#include "tests/e2e/session.h"
#include "tests/support/test_files.h"

namespace velkora::testing {
namespace {

// The parts of a text between separators; empty parts are dropped unless asked for.
std::vector<std::string> split(const std::string& text, const std::string& separator,
                               bool keepEmpty = false) {
    std::vector<std::string> parts;
    for (std::size_t at = 0, end = 0; at <= text.size(); at = end + separator.size()) {
        end = std::min(text.find(separator, at), text.size());
        if (keepEmpty || end > at) {
            parts.push_back(text.substr(at, end - at));
        }
    }
    return parts;
}

// The rows of commands.txt (its top says what their cells mean), then the README's examples:
// "$ velkora-cli ..." indented by four, then exactly what it prints on standard output.
using Row = std::vector<std::string>;
std::vector<Row> readRows() {
    std::vector<Row> rows;
    std::istringstream table(
        readFileText(std::filesystem::path(VELKORA_TEST_DATA) / "commands.txt"));
    for (std::string line; std::getline(table, line);) {
        if (!line.empty() && !line.starts_with("#")) {
            rows.push_back(split(line + (line.ends_with("|") ? " " : ""), " | ", true));
            rows.back().resize(5);
        }
    }
    std::istringstream readme(readFileText(VELKORA_README));
    bool example = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.starts_with("    $ velkora-cli ")) {
            rows.push_back({"0", "package=03", line.substr(18), "=", ""});
        } else if ((example = example && line.starts_with("    "))) {
            rows.back()[3] += line.substr(4) + "\n";
        }
        example |= line.starts_with("    $ velkora-cli ");
    }
    return rows;
}

class Commands : public ::testing::TestWithParam<Row> {};

TEST_P(Commands, EndAsTheTableSays) {
    const Row& row = GetParam();
    Session session;
    session.scenario = scenarioText("adapter.scn") + "\n";
    for (const std::string& item : split(row[1], "; ")) {
        const std::size_t dot = item.find('.'), equals = item.find('=');
        session.scenario += item.ends_with(".scn") ? scenarioText(item) + "\n"
                            : dot < equals && equals != std::string::npos
                                ? "[" + item.substr(0, dot) + "]\n" +
                                      item.substr(dot + 1, equals - dot - 1) + " = " +
                                      item.substr(equals + 1) + "\n"
                                : "";
        if (item.starts_with("package=")) {
            session.package = static_cast<std::uint8_t>(std::stoi(item.substr(8), nullptr, 16));
        }
    }
    std::ostringstream errors;
    session.entry = [&](platform::Services& services) {
        if (row[1].find("busy") != std::string::npos) {
            dynamic_cast<FakeHost&>(services.host).claimOutcome =
                platform::InstanceClaimOutcome::AlreadyRunning;
        }
        const std::string folder = platform::toUtf8(services.host.programFolder().native());
        std::vector<platform::NativeString> arguments{platform::fromUtf8("velkora-cli")};
        for (const std::string& word : split(row[2], " ")) {
            arguments.push_back(platform::fromUtf8(
                word == "''" ? "" : std::regex_replace(word, std::regex("\\{dir\\}"), folder)));
        }
        return cli::runCli(services, arguments, errors, row[1].find("tty") != std::string::npos);
    };
    const SessionResult result = runSession(session);
    EXPECT_EQ(result.exitCodes, std::vector<int>{std::stoi(row[0])});
    const std::string printed = std::regex_replace(result.screen, std::regex("\r"), "");
    if (row[3].starts_with("=")) {
        // A code block of the README has no blank lines.
        EXPECT_EQ("=" + std::regex_replace(printed, std::regex("^\n|(\n)\n+"), "$1"), row[3]);
    }
    for (const std::string& expected :
         split(std::regex_replace(row[3].starts_with("=") ? "" : row[3], std::regex("\\\\n"), "\n"),
               " && ")) {
        const bool error = expected.starts_with("2> ");
        EXPECT_THAT(error ? errors.str() : printed,
                    ::testing::HasSubstr(expected.substr(error ? 3 : 0)));
    }
    auto at = result.logLines.begin();
    for (const std::string& line : split(row[4], " && ")) {
        at = std::find(at, result.logLines.end(), line);
        ASSERT_NE(at, result.logLines.end()) << "run-log line missing or out of order: " << line;
        ++at;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Commands, ::testing::ValuesIn(readRows()));

}  // namespace
}  // namespace velkora::testing
