#include "package/manifest_string.h"

#include <stdexcept>

#include "common/text.h"

namespace velkora {
namespace {

// An escaped character may be anything but a line break, so a value cannot end a line with a
// lone backslash and go on in the next one.
bool isLineBreak(char c) {
    return c == '\n' || c == '\r';
}

// The white space that may surround the colon is what the C locale counts as space.
std::size_t skipBlanks(std::string_view text, std::size_t position) {
    while (position < text.size() && isCSpace(text[position])) {
        ++position;
    }
    return position;
}

// Tries the rest of the pattern right after one occurrence of the quoted key. Every step is
// forced by the next character, so there is nothing to backtrack into and the scan of one
// occurrence ends at the first unescaped double quote.
std::optional<std::string_view> matchValueAfterKey(std::string_view text, std::size_t position) {
    position = skipBlanks(text, position);
    if (position == text.size() || text[position] != ':') {
        return std::nullopt;
    }
    position = skipBlanks(text, position + 1);
    if (position == text.size() || text[position] != '"') {
        return std::nullopt;
    }
    const std::size_t bodyStart = ++position;
    while (position < text.size()) {
        const char c = text[position];
        if (c == '"') {
            return text.substr(bodyStart, position - bodyStart);
        }
        if (c == '\\') {
            if (position + 1 == text.size() || isLineBreak(text[position + 1])) {
                return std::nullopt;
            }
            position += 2;
        } else {
            ++position;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string_view> findManifestStringBody(std::string_view text,
                                                       std::string_view key) {
    std::string quotedKey;
    quotedKey.reserve(key.size() + 2);
    quotedKey.append(1, '"').append(key).append(1, '"');

    // The leftmost match wins, so the occurrences are tried in the order of the text. A failed
    // occurrence stops at the closing quote of the next key at the latest, so the whole search
    // stays linear for keys without quotes or backslashes.
    for (std::size_t at = text.find(quotedKey); at != std::string_view::npos;
         at = text.find(quotedKey, at + 1)) {
        if (auto body = matchValueAfterKey(text, at + quotedKey.size())) {
            return body;
        }
    }
    return std::nullopt;
}

std::string extractManifestString(std::string_view text, std::string_view key) {
    const std::optional<std::string_view> body = findManifestStringBody(text, key);
    if (!body) {
        throw std::runtime_error("Manifest is missing required field: " + std::string(key));
    }

    std::string value;
    value.reserve(body->size());
    for (std::size_t i = 0; i < body->size(); ++i) {
        const char c = (*body)[i];
        if (c != '\\') {
            value += c;
            continue;
        }
        // The scan guarantees a character after every backslash.
        switch ((*body)[++i]) {
            case '"':
                value += '"';
                break;
            case '\\':
                value += '\\';
                break;
            case '/':
                value += '/';
                break;
            case 'b':
                value += '\b';
                break;
            case 'f':
                value += '\f';
                break;
            case 'n':
                value += '\n';
                break;
            case 'r':
                value += '\r';
                break;
            case 't':
                value += '\t';
                break;
            default:
                // \u is refused too: the values are plain ASCII names, digits and tags.
                throw std::runtime_error("Unsupported JSON escape in field: " + std::string(key));
        }
    }
    return value;
}

}  // namespace velkora
