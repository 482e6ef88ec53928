#pragma once

#include <regex>
#include <string>
#include <string_view>
#include <vector>

// The fault dump's line grammar written as regular expressions, the most direct statement of
// it. Used only as the reference that the hand-written matchers are compared with, on short
// lines: the standard library's engine recurses per character and cannot be given long ones.

namespace velkora::testing {

struct RegexLineMatch {
    bool countLine = false;
    bool recordWithX = false;
    bool recordWithoutX = false;
    std::vector<std::string> fields;  // the captured groups of the record form that matched
};

inline RegexLineMatch matchWithRegex(std::string_view line) {
    static const std::regex countPattern("^[0-9]{3}$");
    static const std::regex withX(
        "^([0-9]{3})\\s+([A-Z0-9_]+)\\s+([0-9]{3})\\s+([0-9]{5})\\s+([0-9]{5})\\s*$");
    static const std::regex withoutX(
        "^([0-9]{3})\\s+([A-Z0-9_]+)\\s+([0-9]{5})\\s+([0-9]{5})\\s*$");

    RegexLineMatch result;
    result.countLine = std::regex_search(line.begin(), line.end(), countPattern);
    std::match_results<std::string_view::const_iterator> groups;
    if (std::regex_search(line.begin(), line.end(), groups, withX)) {
        result.recordWithX = true;
    } else if (std::regex_search(line.begin(), line.end(), groups, withoutX)) {
        result.recordWithoutX = true;
    }
    for (std::size_t i = 1; i < groups.size(); ++i) {
        result.fields.push_back(groups[i].str());
    }
    return result;
}

}  // namespace velkora::testing
