#include "cli/json.h"

#include "common/text.h"

namespace velkora::cli {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += "\\u00" + formatHexByte(static_cast<std::uint8_t>(c)).substr(2);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string jsonArray(const std::vector<std::string>& values) {
    std::string out = "[";
    for (const std::string& value : values) {
        out += (out.size() > 1 ? "," : "") + value;
    }
    return out + "]";
}

JsonObject& JsonObject::raw(std::string_view name, std::string_view json) {
    members_ += (members_.empty() ? "" : ",") + jsonString(name) + ":" + std::string(json);
    return *this;
}

}  // namespace velkora::cli
