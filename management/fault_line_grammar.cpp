#include "management/fault_line_grammar.h"

#include <array>
#include <cstddef>

#include "common/text.h"

namespace velkora {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isCodeCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || isDigit(c) || c == '_';
}

bool isNumberOfLength(std::string_view field, std::size_t length) {
    if (field.size() != length) {
        return false;
    }
    for (const char c : field) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return true;
}

bool isCode(std::string_view field) {
    if (field.empty()) {
        return false;
    }
    for (const char c : field) {
        if (!isCodeCharacter(c)) {
            return false;
        }
    }
    return true;
}

// Every field of a record line excludes whitespace and the separators between fields are
// runs of whitespace, so a line matches exactly when its whitespace-separated fields, read
// from the very first byte, have the right number and shapes. Splitting first keeps the work
// linear in the line's length whatever the line holds.
constexpr std::size_t kMostFields = 5;

// Splits the line into at most kMostFields fields and tells how many it found, or returns
// kMostFields + 1 when there are more. A line that starts with whitespace has an empty first
// field, which no field shape accepts.
std::size_t splitFields(std::string_view line, std::array<std::string_view, kMostFields>& fields) {
    std::size_t count = 0;
    std::size_t position = 0;
    while (position < line.size()) {
        std::size_t end = position;
        while (end < line.size() && !isCSpace(line[end])) {
            ++end;
        }
        if (count == kMostFields) {
            return kMostFields + 1;
        }
        fields[count++] = line.substr(position, end - position);
        position = end;
        while (position < line.size() && isCSpace(line[position])) {
            ++position;
        }
    }
    return count;
}

}  // namespace

bool isCountLine(std::string_view line) {
    return isNumberOfLength(line, 3);
}

std::optional<RecordLineFields> matchRecordLine(std::string_view line) {
    std::array<std::string_view, kMostFields> fields;
    const std::size_t count = splitFields(line, fields);
    RecordLineFields result;
    if (count == 5) {
        result.hasX = true;
        result.x = fields[2];
        if (!isNumberOfLength(result.x, 3)) {
            return std::nullopt;
        }
    } else if (count != 4) {
        return std::nullopt;
    }
    result.index = fields[0];
    result.code = fields[1];
    result.value1 = fields[count - 2];
    result.value2 = fields[count - 1];
    if (!isNumberOfLength(result.index, 3) || !isCode(result.code) ||
        !isNumberOfLength(result.value1, 5) || !isNumberOfLength(result.value2, 5)) {
        return std::nullopt;
    }
    return result;
}

}  // namespace velkora
