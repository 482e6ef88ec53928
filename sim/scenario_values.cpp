#include "sim/scenario_values.h"

#include <array>
#include <charconv>
#include <sstream>
#include <utility>

namespace velkora::sim::scenario {
namespace {

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

using NamedCode = std::pair<std::string_view, std::uint8_t>;

constexpr std::array<NamedCode, 17> kCommands{{
    {"GET_INFO", command::kGetInfo},
    {"GET_STATUS", command::kGetStatus},
    {"START_UPDATE", command::kStartUpdate},
    {"ABORT_UPDATE", command::kAbortUpdate},
    {"DATA_CHUNK", command::kDataChunk},
    {"END_UPDATE", command::kEndUpdate},
    {"GET_APP_INFO", command::kGetAppInfo},
    {"START_APP", command::kStartApp},
    {"START_APP_USB", command::kStartAppUsb},
    {"FAULT_DUMP", command::kFaultDump},
    {"EXIT", command::kExit},
    {"CLEAR_FAULTS", command::kClearFaults},
    {"APP_GET_INFO", command::kAppGetInfo},
    {"GET_CONFIG", command::kGetConfig},
    {"SET_CONFIG_ITEM", command::kSetConfigItem},
    {"STORE_CONFIG", command::kStoreConfig},
    {"RESET_CONFIG", command::kResetConfig},
}};

constexpr std::array<NamedCode, 21> kStatuses{{
    {"OK", 0},
    {"BAD_MAGIC", 1},
    {"UNKNOWN_CMD", 2},
    {"BAD_LENGTH", 3},
    {"BAD_VERSION", 4},
    {"BUSY", 5},
    {"BAD_SIZE", 6},
    {"FAILED", 6},
    {"NOT_ACTIVE", 7},
    {"BAD_ITEM", 7},
    {"OFFSET_MISMATCH", 8},
    {"BAD_VALUE", 8},
    {"SIZE_OVERFLOW", 9},
    {"INCOMPLETE", 10},
    {"DUPLICATE", 12},
    {"QUEUE_FULL", 13},
    {"SBSFU_ERROR", 14},
    {"AUTH_ERROR", 15},
    {"CRYPTO_ERROR", 16},
    {"FLASH_ERROR", 17},
    {"COMPAT_MISMATCH", 18},
}};

constexpr std::array<NamedCode, 4> kStates{{
    {"IDLE", transfer_state::kIdle},
    {"RECEIVING", transfer_state::kReceiving},
    {"FINISHED", transfer_state::kFinished},
    {"ERROR", transfer_state::kError},
}};

template <std::size_t N>
std::uint8_t parseNamed(std::string_view text, const std::array<NamedCode, N>& names,
                        std::string_view what) {
    for (const auto& [name, code] : names) {
        if (name == text) {
            return code;
        }
    }
    try {
        return parseByte(text);
    } catch (const ValueError&) {
        throw ValueError("expected " + std::string(what) + " name or a number from 0 to 255, got " +
                         quoted(text));
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::uint32_t parseNumber(std::string_view text, std::uint32_t max) {
    std::string_view digits = text;
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size() ||
        value > max) {
        throw ValueError("expected a number from 0 to " + std::to_string(max) +
                         " (decimal or 0x hexadecimal), got " + quoted(text));
    }
    return static_cast<std::uint32_t>(value);
}

std::uint8_t parseByte(std::string_view text) {
    return static_cast<std::uint8_t>(parseNumber(text, 255));
}

bool parseYesNo(std::string_view text) {
    if (text == "yes" || text == "true") {
        return true;
    }
    if (text == "no" || text == "false") {
        return false;
    }
    throw ValueError("expected yes or no, got " + quoted(text));
}

VersionBytes parseVersionBytes(std::string_view text) {
    VersionBytes version{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < version.size(); ++i) {
        const std::size_t dot = text.find('.', start);
        const bool last = i + 1 == version.size();
        const std::string_view part = text.substr(
            start, last || dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if ((dot == std::string_view::npos) != last || part.empty() ||
            part.find_first_not_of("0123456789") != std::string_view::npos || part.size() > 3 ||
            std::stoi(std::string(part)) > 255) {
            throw ValueError(
                "expected a version of four numbers from 0 to 255 like 1.4.0.12, got " +
                quoted(text));
        }
        version[i] = static_cast<std::uint8_t>(std::stoi(std::string(part)));
        start = dot + 1;
    }
    return version;
}

std::vector<std::uint8_t> parseHexBytes(std::string_view text, std::size_t count) {
    std::istringstream words{std::string(text)};
    std::vector<std::uint8_t> bytes;
    std::string word;
    while (words >> word) {
        if (word.size() != 2 || hexDigit(word[0]) < 0 || hexDigit(word[1]) < 0) {
            throw ValueError("expected " + std::to_string(count) +
                             " bytes as two hexadecimal digits each, got " + quoted(word));
        }
        bytes.push_back(static_cast<std::uint8_t>(hexDigit(word[0]) * 16 + hexDigit(word[1])));
    }
    if (bytes.size() != count) {
        throw ValueError("expected " + std::to_string(count) + " bytes, got " +
                         std::to_string(bytes.size()));
    }
    return bytes;
}

std::string parseText(std::string_view text) {
    if (text.empty() || text.front() != '"') {
        return std::string(text);
    }
    if (text.size() < 2 || text.back() != '"') {
        throw ValueError("quoted text must end with a double quote");
    }
    const std::string_view body = text.substr(1, text.size() - 2);
    std::string out;
    for (std::size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == '"') {
            throw ValueError("a double quote inside quoted text must be written \\\"");
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == body.size()) {
            throw ValueError("quoted text ends in the middle of an escape");
        }
        switch (body[i]) {
            case 'e':
                out += '\x1b';
                break;
            case 'r':
                out += '\r';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case '0':
                out += '\0';
                break;
            case '\\':
                out += '\\';
                break;
            case '"':
                out += '"';
                break;
            case 'x': {
                const int high = i + 1 < body.size() ? hexDigit(body[i + 1]) : -1;
                const int low = i + 2 < body.size() ? hexDigit(body[i + 2]) : -1;
                if (high < 0 || low < 0) {
                    throw ValueError("\\x must be followed by two hexadecimal digits");
                }
                out += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default:
                throw ValueError(std::string("unknown escape \\") + body[i] +
                                 " (use \\e \\r \\n \\t \\0 \\\\ \\\" or \\xHH)");
        }
    }
    return out;
}

std::uint8_t parseCommand(std::string_view text) {
    return parseNamed(text, kCommands, "a command");
}

std::string commandName(std::uint8_t code) {
    for (const auto& [name, value] : kCommands) {
        if (value == code) {
            return std::string(name);
        }
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    return std::string("0x") + kHex[code >> 4] + kHex[code & 0x0F];
}

std::uint8_t parseStatus(std::string_view text) {
    return parseNamed(text, kStatuses, "a status");
}

std::uint8_t parseTransferState(std::string_view text) {
    return parseNamed(text, kStates, "a transfer state");
}

std::vector<Setting> splitSettings(std::string_view text) {
    std::istringstream words{std::string(text)};
    std::vector<Setting> settings;
    std::string word;
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos) {
            settings.push_back({word, {}, false});
        } else {
            settings.push_back({word.substr(0, equals), word.substr(equals + 1), true});
        }
    }
    return settings;
}

}  // namespace velkora::sim::scenario
