#include "package/unsigned_conversion.h"

#include <stdexcept>

#include "common/text.h"

namespace velkora {
namespace {

constexpr std::uint64_t kMaxValue = 0xFFFFFFFFu;

// The digit's value, or 36 for a character that is no digit in any base.
unsigned digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return static_cast<unsigned>(c - '0');
    }
    if (c >= 'a' && c <= 'z') {
        return static_cast<unsigned>(c - 'a') + 10;
    }
    if (c >= 'A' && c <= 'Z') {
        return static_cast<unsigned>(c - 'A') + 10;
    }
    return 36;
}

}  // namespace

Unsigned32Conversion convertUnsigned32(std::string_view text, unsigned base) {
    std::size_t i = 0;
    while (i < text.size() && isCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // "0x" counts as a prefix only before a hexadecimal digit; otherwise the 0 is the number
    // and the conversion stops at the x.
    if (base == 16 && i + 2 < text.size() && text[i] == '0' &&
        (text[i + 1] == 'x' || text[i + 1] == 'X') && digitValue(text[i + 2]) < 16) {
        i += 2;
    }

    const std::size_t firstDigit = i;
    std::uint64_t magnitude = 0;
    bool tooLarge = false;
    for (; i < text.size() && digitValue(text[i]) < base; ++i) {
        // Every digit is consumed even past the range, as the C library does.
        if (!tooLarge) {
            magnitude = magnitude * base + digitValue(text[i]);
            tooLarge = magnitude > kMaxValue;
        }
    }
    if (i == firstDigit) {
        throw std::invalid_argument("invalid stoul argument");
    }
    if (tooLarge) {
        throw std::out_of_range("stoul argument out of range");
    }
    auto value = static_cast<std::uint32_t>(magnitude);
    if (negative) {
        value = static_cast<std::uint32_t>(0u - value);
    }
    return {value, i};
}

}  // namespace velkora
