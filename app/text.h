#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velkora {

// "0x" and exactly two upper-case hexadecimal digits: 0x05, 0xA3.
std::string formatHexByte(std::uint8_t value);

// Removes leading and trailing spaces, tabs, carriage returns and line feeds.
std::string trimWhitespace(std::string_view text);

// Converts the letters A to Z to lower case and leaves every other byte alone, the way the C
// runtime's tolower behaves in its default locale.
std::string toLowerAscii(std::string_view text);

}  // namespace velkora
