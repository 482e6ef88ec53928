#include "management/fault_log_text.h"

#include <string_view>

namespace velkora {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

// At least three digits with leading zeros: 7 is "007", 1234 stays "1234".
std::string zeroPadded(unsigned value) {
    std::string digits = std::to_string(value);
    if (digits.size() < 3) {
        digits.insert(0, 3 - digits.size(), '0');
    }
    return digits;
}

// A close upper bound of the text's length, so that the text grows once.
std::size_t estimatedLength(std::span<const FaultDisplay> displays) {
    std::size_t length = 64;
    for (const FaultDisplay& display : displays) {
        length += 32 + display.title.size();
        for (const std::string& line : display.lines) {
            length += line.size() + kLineEnd.size();
        }
    }
    return length;
}

}  // namespace

std::string formatFaultLog(std::span<const FaultDisplay> displays) {
    std::string text;
    text.reserve(estimatedLength(displays));
    text += "Total number of faults: ";
    text += std::to_string(displays.size());
    text += kLineEnd;
    if (displays.empty()) {
        text += "No faults are stored.";
        text += kLineEnd;
        return text;
    }
    for (const FaultDisplay& display : displays) {
        text += kLineEnd;
        text += "Fault ";
        text += zeroPadded(display.index);
        text += kLineEnd;
        text += display.title;
        text += kLineEnd;
        if (display.hasX) {
            text += "X: ";
            text += std::to_string(display.x);
            text += kLineEnd;
        }
        for (const std::string& line : display.lines) {
            text += line;
            text += kLineEnd;
        }
    }
    return text;
}

}  // namespace velkora
