#include "management/colour_codes.h"

#include <stdexcept>

namespace velkora {

std::string stripTextFormatting(std::string_view text) {
    constexpr char kEscape = '\x1B';
    std::string plain;
    plain.reserve(text.size());
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t escape = text.find(kEscape, position);
        plain.append(text.substr(position, escape - position));
        if (escape == std::string_view::npos) {
            break;
        }
        // The sequence needs its "[" and at least one byte after it, which may be the "m".
        if (escape + 2 >= text.size() || text[escape + 1] != '[') {
            throw std::runtime_error("Fault log display failed: unsupported text format.");
        }
        const std::size_t end = text.find('m', escape + 2);
        if (end == std::string_view::npos) {
            throw std::runtime_error("Fault log display failed: incomplete text format.");
        }
        position = end + 1;
    }
    return plain;
}

}  // namespace velkora
