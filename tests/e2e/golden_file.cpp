#include "tests/e2e/golden_file.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <vector>

#include "tests/support/temp_folder.h"

namespace velkora::testing {
namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

bool updateRequested() {
    const char* value = std::getenv("VELKORA_UPDATE_GOLDEN");
    return value != nullptr && *value != '\0' && std::string(value) != "0";
}

}  // namespace

std::string lineDiff(const std::string& expected, const std::string& actual) {
    const std::vector<std::string> a = splitLines(expected);
    const std::vector<std::string> b = splitLines(actual);
    // Longest common subsequence of lines; transcripts are a few hundred lines at most.
    std::vector<std::vector<std::size_t>> common(a.size() + 1,
                                                 std::vector<std::size_t>(b.size() + 1, 0));
    for (std::size_t i = a.size(); i-- > 0;) {
        for (std::size_t j = b.size(); j-- > 0;) {
            common[i][j] = a[i] == b[j] ? common[i + 1][j + 1] + 1
                                        : std::max(common[i + 1][j], common[i][j + 1]);
        }
    }
    struct Row {
        char mark;
        std::string text;
        std::size_t goldenLine;
    };
    std::vector<Row> rows;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
        if (i < a.size() && j < b.size() && a[i] == b[j]) {
            rows.push_back({' ', a[i], i + 1});
            ++i;
            ++j;
        } else if (j < b.size() && (i == a.size() || common[i][j + 1] >= common[i + 1][j])) {
            rows.push_back({'+', b[j++], i + 1});
        } else {
            rows.push_back({'-', a[i], i + 1});
            ++i;
        }
    }
    std::ostringstream out;
    constexpr std::size_t kContext = 3;
    std::size_t lastShown = 0;
    bool anyShown = false;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        bool near = false;
        for (std::size_t k = (r > kContext ? r - kContext : 0);
             k < std::min(rows.size(), r + kContext + 1); ++k) {
            near = near || rows[k].mark != ' ';
        }
        if (!near) {
            continue;
        }
        if (!anyShown || r > lastShown + 1) {
            out << "@@ golden line " << rows[r].goldenLine << "\n";
        }
        out << rows[r].mark << ' ' << rows[r].text << "\n";
        lastShown = r;
        anyShown = true;
    }
    return out.str();
}

::testing::AssertionResult matchesGolden(const std::string& name, const std::string& actual) {
    const std::filesystem::path path = std::filesystem::path(VELKORA_GOLDEN_DIR) / name;
    if (updateRequested()) {
        writeFileText(path, actual);
        return ::testing::AssertionSuccess() << "golden file rewritten";
    }
    if (!std::filesystem::exists(path)) {
        return ::testing::AssertionFailure()
               << "golden file " << path.generic_string()
               << " is missing; run the test with VELKORA_UPDATE_GOLDEN=1 to create it. "
                  "Actual transcript:\n"
               << actual;
    }
    const std::string expected = readFileText(path);
    if (expected == actual) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "transcript differs from " << path.generic_string()
           << " (run with VELKORA_UPDATE_GOLDEN=1 to accept the new one):\n"
           << lineDiff(expected, actual);
}

}  // namespace velkora::testing
