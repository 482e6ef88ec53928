#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "cli/cli_entry.h"
#include "tests/e2e/session.h"
#include "tests/support/fake_services.h"
#include "tests/support/test_files.h"

namespace velkora::testing {
namespace {

// The parts of a text between matches of a separator, an empty last part left out.
std::vector<std::string> split(const std::string& text, const char* separator) {
    const std::regex pattern(separator);
    return text.empty()
               ? std::vector<std::string>{}
               : std::vector<std::string>(
                     std::sregex_token_iterator(text.begin(), text.end(), pattern, -1), {});
}

// The rows of commands.txt (its top says what the cells mean), then the README's examples:
// "$ velkora-cli ...", indented by four like the lines it prints on standard output.
using Row = std::vector<std::string>;
std::vector<Row> readRows() {
    std::vector<Row> rows;
    std::istringstream table(
        readFileText(std::filesystem::path(VELKORA_TEST_DATA) / "commands.txt"));
    for (std::string line; std::getline(table, line);) {
        if (!line.empty() && !line.starts_with("#")) {
            rows.push_back(split(line, " \\|( |$)"));
            rows.back().resize(5);
        }
    }
    std::istringstream readme(readFileText(VELKORA_README));
    bool example = false;
    for (std::string line; std::getline(readme, line);) {
        const bool command = line.starts_with("    $ velkora-cli ");
        if (command) {
            rows.push_back({"0", "package=03", line.substr(18), "=", ""});
        } else if ((example = example && line.starts_with("    "))) {
            rows.back()[3] += line.substr(4) + "\n";
        }
        example |= command;
    }
    return rows;
}

class Commands : public ::testing::TestWithParam<Row> {};

TEST_P(Commands, EndAsTheTableSays) {
    const Row& row = GetParam();
    Session session;
    session.scenario = scenarioText("adapter.scn") + "\n";
    for (const std::string& item : split(row[1], "; ")) {
        session.scenario +=
            item.ends_with(".scn")
                ? scenarioText(item) + "\n"
                : std::regex_replace(item, std::regex("^(\\w+)\\.([^=]+)=(.*)"), "[$1]\n$2 = $3\n",
                                     std::regex_constants::format_no_copy);
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
    // Without carriage returns and, as in the README's code blocks, without blank lines.
    const std::string printed =
        std::regex_replace(result.screen, std::regex("^\r?\n|\r|(\n)(\r?\n)+"), "$1");
    if (row[3].starts_with("=")) {
        EXPECT_EQ("=" + printed, row[3]);
    }
    for (const std::string& expected :
         split(std::regex_replace(row[3].starts_with("=") ? "" : row[3], std::regex("\\\\n"), "\n"),
               " && ")) {
        const bool error = expected.starts_with("2> ");
        EXPECT_THAT(error ? errors.str() : printed,
                    ::testing::HasSubstr(expected.substr(error ? 3 : 0)));
    }
    EXPECT_THAT(result.logLines, ::testing::IsSupersetOf(split(row[4], " && ")));
}

INSTANTIATE_TEST_SUITE_P(Table, Commands, ::testing::ValuesIn(readRows()));

}  // namespace
}  // namespace velkora::testing
