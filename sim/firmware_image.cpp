#include "sim/firmware_image.h"

#include <algorithm>
#include <charconv>
#include <sstream>
#include <string_view>

namespace velkora::sim {
namespace {

constexpr std::size_t kMaxHeaderLine = 256;

std::optional<std::uint8_t> parseByte(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value > 255) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

std::optional<VersionBytes> parseVersion(std::string_view text) {
    VersionBytes version{};
    for (std::size_t i = 0; i < version.size(); ++i) {
        const std::size_t dot = text.find('.');
        const bool last = i + 1 == version.size();
        if (last != (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const std::string_view part = last ? text : text.substr(0, dot);
        if (part.empty() || part.find_first_not_of("0123456789") != std::string_view::npos) {
            return std::nullopt;
        }
        const auto value = parseByte(part);
        if (!value) {
            return std::nullopt;
        }
        version[i] = *value;
        text.remove_prefix(last ? text.size() : dot + 1);
    }
    return version;
}

}  // namespace

ImageInfo inspectImage(std::span<const std::uint8_t> image) {
    const std::string_view bytes(reinterpret_cast<const char*>(image.data()),
                                 std::min(image.size(), kMaxHeaderLine));
    if (!bytes.starts_with(kImageTag)) {
        return {};
    }
    ImageInfo damaged{ImageKind::Damaged, {}};
    const std::size_t lineEnd = bytes.find('\n');
    if (lineEnd == std::string_view::npos) {
        return damaged;
    }
    std::istringstream fields(
        std::string(bytes.substr(kImageTag.size(), lineEnd - kImageTag.size())));
    std::optional<std::uint8_t> compatibility;
    std::optional<VersionBytes> version;
    std::optional<VersionBytes> hwif;
    std::string field;
    while (fields >> field) {
        const std::size_t equals = field.find('=');
        if (equals == std::string::npos) {
            return damaged;
        }
        const std::string_view key = std::string_view(field).substr(0, equals);
        const std::string_view value = std::string_view(field).substr(equals + 1);
        if (key == "compatibility" && !compatibility) {
            compatibility = parseByte(value);
            if (!compatibility) {
                return damaged;
            }
        } else if (key == "version" && !version) {
            version = parseVersion(value);
            if (!version) {
                return damaged;
            }
        } else if (key == "hwif" && !hwif) {
            hwif = parseVersion(value);
            if (!hwif) {
                return damaged;
            }
        } else {
            return damaged;
        }
    }
    if (!compatibility || !version) {
        return damaged;
    }
    return {ImageKind::Tagged, ImageHeader{*compatibility, *version, hwif}};
}

std::string formatImageHeader(const ImageHeader& header) {
    auto versionText = [](const VersionBytes& v) {
        return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) +
               "." + std::to_string(v[3]);
    };
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string line(kImageTag);
    line += " compatibility=0x";
    line += kHex[header.compatibility >> 4];
    line += kHex[header.compatibility & 0x0F];
    line += " version=" + versionText(header.version);
    if (header.hardwareInterface) {
        line += " hwif=" + versionText(*header.hardwareInterface);
    }
    line += "\n";
    return line;
}

}  // namespace velkora::sim
