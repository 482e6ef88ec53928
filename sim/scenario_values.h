#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "sim/adapter_profile.h"

namespace velkora::sim::scenario {

// A value of a scenario file that cannot be used; the message says what was expected. The
// reader adds the file, line and field.
class ValueError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Each function reads one whole value or throws ValueError.
std::uint32_t parseNumber(std::string_view text, std::uint32_t max = 0xFFFFFFFFu);  // 12, 0x0C
std::uint8_t parseByte(std::string_view text);
bool parseYesNo(std::string_view text);                 // yes/no, true/false
VersionBytes parseVersionBytes(std::string_view text);  // 1.4.0.12
std::vector<std::uint8_t> parseHexBytes(std::string_view text, std::size_t count);  // "20 5A"
// Text in double quotes with the escapes \e \r \n \t \0 \\ \" \xHH, or plain text taken as
// written (backslashes included) when it does not start with a double quote.
std::string parseText(std::string_view text);

std::uint8_t parseCommand(std::string_view text);
std::string commandName(
    std::uint8_t code);  // "START_UPDATE", or "0x42"        // START_UPDATE or 0x03
std::uint8_t parseStatus(std::string_view text);         // BUSY, FAILED or a number
std::uint8_t parseTransferState(std::string_view text);  // IDLE ... ERROR or a number

// Splits "a=1 b=2" into pairs; a word without "=" gets an empty value and `hasValue` unset.
struct Setting {
    std::string key;
    std::string value;
    bool hasValue = false;
};
std::vector<Setting> splitSettings(std::string_view text);

}  // namespace velkora::sim::scenario
