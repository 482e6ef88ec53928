#pragma once

#include <optional>
#include <string_view>

namespace velkora {

// The line grammar of the device's fault dump, matched by hand in one pass over the line.
//
// A record line is a three-digit index, a code of upper-case letters, digits and underscores,
// an optional three-digit x field and two five-digit values, separated by runs of whitespace
// (space, tab, line feed, vertical tab, form feed, carriage return) and optionally followed by
// whitespace; nothing may come before the index. The count line is exactly three digits.
//
// The device sends up to 64 KiB, possibly as one line, and a faulty or hostile device may send
// anything: a backtracking regular-expression engine recurses once per character and overflows
// the stack on such a line, so these matchers never recurse and never backtrack.

// The fields of a record line, as views into the line that was matched.
struct RecordLineFields {
    std::string_view index;   // three digits
    std::string_view code;    // [A-Z0-9_]+
    std::string_view x;       // three digits when hasX, else empty
    std::string_view value1;  // five digits
    std::string_view value2;  // five digits
    bool hasX = false;
};

// True for a line of exactly three decimal digits.
bool isCountLine(std::string_view line);

// The fields of a record line in either form, or nothing when the line is not a record line.
// The two forms differ in their number of fields, so no line can match both.
std::optional<RecordLineFields> matchRecordLine(std::string_view line);

}  // namespace velkora
