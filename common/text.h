#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace velkora {

// "0x" and exactly two upper-case hexadecimal digits: 0x05, 0xA3.
std::string formatHexByte(std::uint8_t value);

// Two upper-case hexadecimal digits per byte, in order, without a prefix: "05A3".
std::string formatHexBytes(std::span<const std::uint8_t> bytes);

// Removes leading and trailing spaces, tabs, carriage returns and line feeds.
std::string trimWhitespace(std::string_view text);

// Converts the letters A to Z to lower case, or a to z to upper case, and leaves every other
// byte alone, the way the C runtime's tolower and toupper behave in its default locale.
std::string toLowerAscii(std::string_view text);
std::string toUpperAscii(std::string_view text);

// The C library's white space in its default locale: space, tab, line feed, vertical tab,
// form feed and carriage return. Regular expressions' \s means the same among single bytes.
constexpr bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace velkora
