#include <gtest/gtest.h>

#include <sstream>

#include "tests/e2e/session.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {
namespace {

// One row of sessions.txt: a session and what it must show. The format is described at the
// top of that file.
struct Row {
    std::string name;
    Session session;
    std::string golden;
    std::vector<int> exitCodes;
    std::string ends;                               // the console's last text
    std::vector<std::string> shows;                 // console texts, in this order
    std::vector<std::string> log;                   // run-log lines, in this order
    std::vector<std::string> received;              // requests, in this order
    std::optional<int> exits;                       // EXIT requests the adapter received
    std::optional<std::vector<std::string>> files;  // every file written, logs included
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

// "\n", "\r", "\e" and "\\" stand for line feed, carriage return, escape and backslash.
std::string unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 'e' ? '\x1b' : c;
    }
    return out;
}

// "@<ms> " before a typed line or a key gives the virtual moment; the default is 0.
std::uint64_t takeMoment(std::string& value) {
    if (!value.starts_with("@")) {
        return 0;
    }
    const std::size_t end = value.find(' ');
    const std::uint64_t ms = std::stoull(value.substr(1, end - 1));
    value = end == std::string::npos ? "" : value.substr(end + 1);
    return ms;
}

void take(Row& row, const std::string& key, std::string value) {
    Session& s = row.session;
    if (key == "scenario") {
        s.scenarioName += " + " + value;
        s.scenario += scenarioText(value) + "\n";
    } else if (key == "adapter") {
        s.scenario += value + "\n";
    } else if (key == "arguments") {
        std::istringstream words(value);
        for (std::string word; words >> word;) {
            s.arguments.push_back(word);
        }
    } else if (key == "package") {
        std::istringstream words(value);
        unsigned compatibility = 0;
        PackageProfile package;
        words >> std::hex >> compatibility >> std::dec >> package.version >> package.bytes;
        package.compatibility = static_cast<std::uint8_t>(compatibility);
        s.package = package;
    } else if (key == "type") {
        const std::uint64_t at = takeMoment(value);
        s.user.lines.push_back({at, unescaped(value)});
    } else if (key == "key") {
        const std::uint64_t at = takeMoment(value);
        s.user.keys.push_back({at, std::stoi(value)});
    } else if (key == "runs") {
        s.runs = std::stoi(value);
    } else if (key == "golden") {
        row.golden = value;
    } else if (key == "exit") {
        std::istringstream codes(value);
        for (int code = 0; codes >> code;) {
            row.exitCodes.push_back(code);
        }
    } else if (key == "ends") {
        row.ends = unescaped(value);
    } else if (key == "shows") {
        row.shows.push_back(unescaped(value));
    } else if (key == "log") {
        row.log.push_back(value);
    } else if (key == "received") {
        row.received.push_back(value);
    } else if (key == "exits") {
        row.exits = std::stoi(value);
    } else if (key == "file") {
        row.files = row.files.value_or(std::vector<std::string>{});
        if (!value.empty()) {
            row.files->push_back(value);
        }
    } else {
        throw std::runtime_error("sessions.txt: unknown key " + key);
    }
}

std::vector<Row> readTable() {
    std::istringstream text(
        readFileText(std::filesystem::path(VELKORA_TEST_DATA) / "sessions.txt"));
    std::vector<Row> rows;
    for (std::string line; std::getline(text, line);) {
        if (line.starts_with("[")) {
            rows.emplace_back();
            rows.back().name = line.substr(1, line.find(']') - 1);
            rows.back().session.scenarioName = "adapter.scn";
            rows.back().session.scenario = scenarioText("adapter.scn") + "\n";
        } else if (!line.empty() && line[0] != '#' && line.find(" =") != std::string::npos) {
            const std::size_t equals = line.find(" =");
            const std::size_t value = std::min(line.size(), equals + 3);
            take(rows.back(), line.substr(0, equals), line.substr(value));
        }
    }
    for (Row& row : rows) {
        if (row.exitCodes.empty()) {
            row.exitCodes.assign(static_cast<std::size_t>(row.session.runs), 0);
        }
    }
    return rows;
}

// Whether `wanted` appears in `all` in its order, other entries in between allowed.
::testing::AssertionResult inOrder(const std::vector<std::string>& all,
                                   const std::vector<std::string>& wanted) {
    auto at = all.begin();
    for (const std::string& item : wanted) {
        at = std::find(at, all.end(), item);
        if (at == all.end()) {
            std::ostringstream found;
            for (const std::string& entry : all) {
                found << "\n  " << visible(entry);
            }
            return ::testing::AssertionFailure()
                   << "missing or out of order: " << visible(item) << "\nin:" << found.str();
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

class Sessions : public ::testing::TestWithParam<Row> {};

TEST_P(Sessions, EndAsTheTableSays) {
    const Row& row = GetParam();
    const SessionResult result = runSession(row.session);
    EXPECT_EQ(result.exitCodes, row.exitCodes);
    EXPECT_TRUE(result.printed.ends_with(row.ends))
        << "the console ends with:\n"
        << visible(result.printed.substr(result.printed.size() -
                                         std::min<std::size_t>(result.printed.size(), 400)));
    std::size_t from = 0;
    for (const std::string& text : row.shows) {
        from = result.printed.find(text, from);
        ASSERT_NE(from, std::string::npos) << "not shown, or out of order: " << visible(text);
    }
    EXPECT_TRUE(inOrder(allLogLines(result), row.log));
    const std::vector<std::string> requests = requestLines(result);
    EXPECT_TRUE(inOrder(requests, row.received));
    if (row.exits) {
        EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                                [](const std::string& r) { return r.starts_with("EXIT "); }),
                  *row.exits);
    }
    if (row.files) {
        std::vector<std::string> written;
        for (const auto& [name, content] : result.files) {
            written.push_back(name);
        }
        EXPECT_EQ(written, *row.files);
    }
    if (!row.golden.empty()) {
        EXPECT_TRUE(matchesGolden(row.golden, renderTranscript(row.session, result)));
    }
    EXPECT_EQ(result.openConnections, 0u) << "every HID handle is closed on the way out";
    EXPECT_EQ(result.linesNotRead, 0u) << "every typed line is answered";
}

std::string testName(const ::testing::TestParamInfo<Row>& info) {
    std::string name;
    bool upper = true;
    for (const char c : info.param.name) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0) {
            name += upper ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
        }
        upper = c == ' ';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, Sessions, ::testing::ValuesIn(readTable()), testName);

}  // namespace
}  // namespace velkora::testing
