#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <ranges>
#include <regex>
#include <sstream>

#include "common/text.h"
#include "tests/e2e/session.h"
#include "tests/support/test_files.h"

namespace velkora::testing {
namespace {

// One block of sessions.txt: its "key = value" lines in order, after ("name", its name). The
// keys are described at the top of that file.
using Row = std::vector<std::pair<std::string, std::string>>;

std::vector<std::string> all(const Row& row, const std::string& key) {
    auto values = row | std::views::filter([&](const auto& line) { return line.first == key; }) |
                  std::views::values;
    return {values.begin(), values.end()};
}

std::vector<Row> readTable() {
    std::istringstream text(
        readFileText(std::filesystem::path(VELKORA_TEST_DATA) / "sessions.txt"));
    std::vector<Row> rows;
    for (std::string line; std::getline(text, line);) {
        const std::size_t equals = line.find(" =");
        if (line.starts_with("[")) {
            rows.push_back({{"name", line.substr(1, line.size() - 2)}});
        } else if (!line.starts_with("#") && equals != std::string::npos) {
            std::string values = line.substr(std::min(line.size(), equals + 3)) + " | ";
            for (std::size_t bar; (bar = values.find(" | ")) != std::string::npos;) {
                rows.back().emplace_back(line.substr(0, equals), values.substr(0, bar));
                values.erase(0, bar + 3);
            }
        }
    }
    return rows;
}

// "\n", "\r" and "\e" in a text stand for line feed, carriage return and escape.
std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] == '\\' && i + 1 < text.size() ? text[++i] : '\0';
        out += c == '\0' ? text[i] : c == 'n' ? '\n' : c == 'r' ? '\r' : c == 'e' ? '\x1b' : c;
    }
    return out;
}

Session sessionOf(const Row& row) {
    Session s;
    s.scenarioName = "adapter.scn";
    s.scenario = scenarioText("adapter.scn") + "\n";
    for (const auto& [key, value] : row) {
        std::istringstream words(value);
        // "@<ms> " before a typed line or a key gives its virtual moment; the default is 0.
        const bool timed = value.starts_with("@");
        const std::uint64_t at = timed ? std::stoull(value.substr(1)) : 0;
        const std::string text =
            timed ? value.substr(std::min(value.find(' '), value.size() - 1) + 1) : value;
        if (key == "scenario") {
            s.scenarioName += " + " + value;
            s.scenario += scenarioText(value) + "\n";
        } else if (key == "adapter") {
            s.scenario += value + "\n";
        } else if (key == "arguments") {
            s.arguments.assign(std::istream_iterator<std::string>(words), {});
        } else if (key == "package") {
            s.package = static_cast<std::uint8_t>(std::stoi(value, nullptr, 16));
        } else if (key == "type") {
            s.user.lines.push_back({at, unescaped(text)});
        } else if (key == "key") {
            s.user.keys.push_back({at, std::stoi(text)});
        } else if (key == "runs") {
            s.runs = std::stoi(value);
        }
    }
    return s;
}

// Whether `wanted` appears in `all` in its order, other entries in between allowed.
::testing::AssertionResult inOrder(const std::vector<std::string>& all,
                                   const std::vector<std::string>& wanted) {
    auto at = all.begin();
    for (const std::string& item : wanted) {
        at = std::find(at, all.end(), item);
        if (at == all.end()) {
            return ::testing::AssertionFailure() << "missing or out of order: " << item
                                                 << "\nin: " << ::testing::PrintToString(all);
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

// The text with control characters shown as <CR>, <ESC> and <0xNN>.
std::string visible(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        out += c == '\r'                               ? "<CR>"
               : c == '\x1b'                           ? "<ESC>"
               : byte < 0x20 && c != '\n' && c != '\t' ? "<" + formatHexByte(byte) + ">"
                                                       : std::string(1, c);
    }
    return out;
}

// The whole session as plain text for a golden file: console, exit codes, run logs, other
// files written and the requests the adapter received. A file that holds exactly what the
// console printed says so instead of repeating it.
std::string transcript(const Session& session, const SessionResult& result) {
    std::ostringstream out;
    out << "Scenario: " << session.scenarioName << "\nvelkora-updater";
    for (const std::string& argument : session.arguments) {
        out << " " << argument;
    }
    out << " ran for " << result.virtualMs << " ms of virtual time\n"
        << "== Console (typed lines appear after their prompts) ==\n"
        << visible(result.screen) << (result.screen.ends_with('\n') ? "" : "\n")
        << "== End of console; exit codes";
    for (const int code : result.exitCodes) {
        out << " " << code;
    }
    out << " ==\n";
    for (const auto& [name, lines] : result.logs) {
        out << "== Run log " << name << " ==\n";
        for (const std::string& line : lines) {
            out << visible(line) << "\n";
        }
    }
    for (const auto& [name, content] : result.files) {
        if (result.logs.contains(name)) {
            continue;
        }
        out << "== File " << name << ", " << content.size() << " bytes";
        if (result.printed.find(content) != std::string::npos) {
            out << ", exactly as printed on the console ==\n";
        } else {
            out << " ==\n" << visible(content) << (content.ends_with('\n') ? "" : "\n");
        }
    }
    // A run of the same command, the chunks of a transfer, is one line.
    out << "== Requests the adapter received ==\n";
    const std::vector<std::string>& requests = result.requests;
    for (std::size_t i = 0; i < requests.size();) {
        const std::string command = requests[i].substr(0, requests[i].find(' '));
        std::size_t j = i + 1;
        while (j < requests.size() && requests[j].starts_with(command + " ")) {
            ++j;
        }
        out << result.requestMs[i] << " ms " << requests[i].substr(0, requests[i].find(" payload"))
            << (j - i > 1 ? " and " + std::to_string(j - i - 1) + " more" : "") << "\n";
        i = j;
    }
    return out.str();
}

class Sessions : public ::testing::TestWithParam<Row> {};

TEST_P(Sessions, EndAsTheTableSays) {
    const Row& row = GetParam();
    const Session session = sessionOf(row);
    const SessionResult result = runSession(session);
    const std::vector<std::string> exit = all(row, "exit");
    std::istringstream codes(exit.empty() ? "0" : exit.back());
    EXPECT_EQ(result.exitCodes, std::vector<int>(std::istream_iterator<int>(codes), {}));
    for (const std::string& ends : all(row, "ends")) {
        EXPECT_THAT(result.printed, ::testing::EndsWith(unescaped(ends)));
    }
    std::size_t from = 0;
    for (const std::string& shown : all(row, "shows")) {
        from = result.printed.find(unescaped(shown), from);
        ASSERT_NE(from, std::string::npos) << "not shown, or out of order: " << shown;
    }
    EXPECT_TRUE(inOrder(result.logLines, all(row, "log")));
    EXPECT_TRUE(inOrder(result.requests, all(row, "received")));
    for (const std::string& exits : all(row, "exits")) {
        EXPECT_EQ(result.exits, std::stoi(exits));
    }
    if (const std::vector<std::string> files = all(row, "file"); !files.empty()) {
        const auto written = std::views::keys(result.files);
        EXPECT_EQ(std::vector<std::string>(written.begin(), written.end()), files);
    }
    for (const std::string& golden : all(row, "golden")) {
        // VELKORA_UPDATE_GOLDEN=1 rewrites the file instead, and git diff shows what changed.
        const auto path = std::filesystem::path(VELKORA_TEST_DATA) / "golden" / (golden + ".txt");
        if (const char* update = std::getenv("VELKORA_UPDATE_GOLDEN"); update && *update == '1') {
            writeFileText(path, transcript(session, result));
        } else {
            EXPECT_EQ(readFileText(path), transcript(session, result)) << path.generic_string();
        }
    }
    EXPECT_EQ(result.linesNotRead, 0u) << "every typed line is answered";
}

INSTANTIATE_TEST_SUITE_P(Table, Sessions, ::testing::ValuesIn(readTable()),
                         [](const ::testing::TestParamInfo<Row>& row) {
                             return std::regex_replace(row.param[0].second, std::regex("\\W"), "_");
                         });

}  // namespace
}  // namespace velkora::testing
