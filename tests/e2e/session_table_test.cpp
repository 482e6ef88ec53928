#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

#include "tests/e2e/session.h"
#include "tests/support/test_files.h"

namespace velkora::testing {
namespace {

// One block of sessions.txt: its name and its "key = value" lines, in order. The keys are
// described at the top of that file.
struct Row {
    std::string name;
    std::vector<std::pair<std::string, std::string>> lines;

    std::vector<std::string> all(const std::string& key) const {
        std::vector<std::string> values;
        for (const auto& [k, value] : lines) {
            if (k == key) {
                values.push_back(value);
            }
        }
        return values;
    }
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

std::vector<Row> readTable() {
    std::istringstream text(
        readFileText(std::filesystem::path(VELKORA_TEST_DATA) / "sessions.txt"));
    std::vector<Row> rows;
    for (std::string line; std::getline(text, line);) {
        const std::size_t equals = line.find(" =");
        if (line.starts_with("[")) {
            rows.push_back({line.substr(1, line.size() - 2), {}});
        } else if (!line.starts_with("#") && equals != std::string::npos) {
            std::string values = line.substr(std::min(line.size(), equals + 3)) + " | ";
            for (std::size_t bar; (bar = values.find(" | ")) != std::string::npos;) {
                rows.back().lines.emplace_back(line.substr(0, equals), values.substr(0, bar));
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

// "@<ms> " before a typed line or a key gives its virtual moment; the default is 0.
std::pair<std::uint64_t, std::string> moment(const std::string& value) {
    if (!value.starts_with("@")) {
        return {0, value};
    }
    const std::size_t end = std::min(value.find(' '), value.size());
    return {std::stoull(value.substr(1, end - 1)), value.substr(std::min(end + 1, value.size()))};
}

Session sessionOf(const Row& row) {
    Session s;
    s.scenarioName = "adapter.scn";
    s.scenario = scenarioText("adapter.scn") + "\n";
    for (const auto& [key, value] : row.lines) {
        std::istringstream words(value);
        if (key == "scenario") {
            s.scenarioName += " + " + value;
            s.scenario += scenarioText(value) + "\n";
        } else if (key == "adapter") {
            s.scenario += value + "\n";
        } else if (key == "arguments") {
            s.arguments.assign(std::istream_iterator<std::string>(words), {});
        } else if (key == "package") {
            unsigned compatibility = 0;
            PackageProfile& package = s.package.emplace();
            words >> std::hex >> compatibility >> std::dec >> package.version >> package.bytes;
            package.compatibility = static_cast<std::uint8_t>(compatibility);
        } else if (key == "type") {
            const auto [at, text] = moment(value);
            s.user.lines.push_back({at, unescaped(text)});
        } else if (key == "key") {
            const auto [at, code] = moment(value);
            s.user.keys.push_back({at, std::stoi(code)});
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
            std::string found;
            for (const std::string& entry : all) {
                found += "\n  " + visible(entry);
            }
            return ::testing::AssertionFailure()
                   << "missing or out of order: " << visible(item) << "\nin:" << found;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

class Sessions : public ::testing::TestWithParam<Row> {};

TEST_P(Sessions, EndAsTheTableSays) {
    const Row& row = GetParam();
    const Session session = sessionOf(row);
    const SessionResult result = runSession(session);
    std::vector<int> codes(static_cast<std::size_t>(session.runs), 0);
    for (const std::string& value : row.all("exit")) {
        std::istringstream words(value);
        codes.assign(std::istream_iterator<int>(words), {});
    }
    EXPECT_EQ(result.exitCodes, codes);
    for (const std::string& ends : row.all("ends")) {
        EXPECT_TRUE(result.printed.ends_with(unescaped(ends)))
            << "the console ends with:\n"
            << visible(result.printed.substr(result.printed.size() -
                                             std::min<std::size_t>(300, result.printed.size())));
    }
    std::size_t from = 0;
    for (const std::string& shown : row.all("shows")) {
        from = result.printed.find(unescaped(shown), from);
        ASSERT_NE(from, std::string::npos) << "not shown, or out of order: " << shown;
    }
    EXPECT_TRUE(inOrder(allLogLines(result), row.all("log")));
    const std::vector<std::string> requests = requestLines(result);
    EXPECT_TRUE(inOrder(requests, row.all("received")));
    for (const std::string& exits : row.all("exits")) {
        EXPECT_EQ(exitRequests(result), std::stoi(exits));
    }
    if (const std::vector<std::string> files = row.all("file"); !files.empty()) {
        std::vector<std::string> written;
        for (const auto& [name, content] : result.files) {
            written.push_back(name);
        }
        EXPECT_TRUE(inOrder(written, files) && written.size() == files.size());
    }
    for (const std::string& golden : row.all("golden")) {
        EXPECT_TRUE(matchesGolden(golden, renderTranscript(session, result)));
    }
    EXPECT_EQ(result.openConnections, 0u) << "every HID handle is closed on the way out";
    EXPECT_EQ(result.linesNotRead, 0u) << "every typed line is answered";
}

INSTANTIATE_TEST_SUITE_P(Table, Sessions, ::testing::ValuesIn(readTable()),
                         [](const ::testing::TestParamInfo<Row>& row) {
                             std::string name;
                             for (const char c : row.param.name) {
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace velkora::testing
