#include "common/text.h"

namespace velkora {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendHexDigits(std::string& text, std::uint8_t value) {
    text += kHexDigits[value >> 4];
    text += kHexDigits[value & 0x0F];
}

// Shifts the letters from..from+25 by `shift`, leaving every other byte alone.
std::string shiftLetters(std::string_view text, char from, int shift) {
    std::string result(text);
    for (char& c : result) {
        if (c >= from && c <= from + 25) {
            c = static_cast<char>(c + shift);
        }
    }
    return result;
}

}  // namespace

std::string formatHexByte(std::uint8_t value) {
    std::string text = "0x";
    appendHexDigits(text, value);
    return text;
}

std::string formatHexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        appendHexDigits(text, byte);
    }
    return text;
}

std::string trimWhitespace(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kBlanks);
    return std::string(text.substr(first, last - first + 1));
}

std::string toLowerAscii(std::string_view text) {
    return shiftLetters(text, 'A', 'a' - 'A');
}

std::string toUpperAscii(std::string_view text) {
    return shiftLetters(text, 'a', 'A' - 'a');
}

}  // namespace velkora
