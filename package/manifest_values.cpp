#include "package/manifest_values.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

#include "common/text.h"
#include "package/unsigned_conversion.h"

namespace velkora {
namespace {

// Windows opens a device, not a file, for these names in any folder, in any letter case and
// with any extension: reading "CON" would read the console.
bool namesWindowsDevice(std::string_view name) {
    const std::string stem = toUpperAscii(name.substr(0, name.find('.')));
    static constexpr std::array<std::string_view, 4> kDevices{"CON", "PRN", "AUX", "NUL"};
    if (std::find(kDevices.begin(), kDevices.end(), stem) != kDevices.end()) {
        return true;
    }
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

std::uint8_t parsePackageCompatibility(std::string_view text) {
    const std::string trimmed = trimWhitespace(text);
    const bool hexadecimal =
        trimmed.size() >= 2 && trimmed[0] == '0' && (trimmed[1] == 'x' || trimmed[1] == 'X');
    const Unsigned32Conversion number = convertUnsigned32(trimmed, hexadecimal ? 16 : 10);
    if (number.consumed != trimmed.size() || number.value > 0xFF) {
        throw std::runtime_error("Invalid package_compatibility value: " + std::string(text));
    }
    return static_cast<std::uint8_t>(number.value);
}

FirmwareVersion parseFirmwareVersion(std::string_view text, std::string_view label) {
    constexpr std::size_t kMaxDigits = 3;
    std::array<std::uint32_t, 4> components{};
    std::size_t count = 0;   // components begun
    std::size_t digits = 0;  // digits of the current component
    bool valid = !text.empty();
    for (const char c : text) {
        if (!valid) {
            break;
        }
        if (c >= '0' && c <= '9') {
            if (digits == 0) {
                ++count;
            }
            valid = ++digits <= kMaxDigits && count <= components.size();
            if (valid) {
                components[count - 1] = components[count - 1] * 10 + static_cast<unsigned>(c - '0');
            }
        } else {
            // A dot must close a component that has digits; anything else is refused.
            valid = c == '.' && digits > 0;
            digits = 0;
        }
    }
    valid = valid && digits > 0 && (count == 3 || count == 4);
    if (!valid) {
        throw std::runtime_error("Invalid " + std::string(label) +
                                 " version format: " + std::string(text));
    }
    return FirmwareVersion{components[0], components[1], components[2], components[3]};
}

bool isPlainFileName(std::string_view name) {
    // A zero byte would silently cut the path short, and a different file than the one named
    // would be opened; other control characters would reach the console and the run log.
    const bool hasControlCharacter = std::any_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
    return !name.empty() && name != "." && name != ".." && !hasControlCharacter &&
           name.find_first_of("/\\:") == std::string_view::npos &&
           name.find("..") == std::string_view::npos && name.back() != '.' && name.back() != ' ' &&
           !namesWindowsDevice(name);
}

}  // namespace velkora
