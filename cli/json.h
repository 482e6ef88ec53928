#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velkora::cli {

// A JSON string: the text in quotes, with quotes, backslashes and control characters escaped.
// Other bytes pass unchanged, so UTF-8 text stays UTF-8.
std::string jsonString(std::string_view text);

// "[a,b,...]" of values already written as JSON.
std::string jsonArray(const std::vector<std::string>& values);

// A JSON object built member by member, in the order the members are added.
class JsonObject {
  public:
    // A member whose value is already JSON: a number, true, false, null, an object or array.
    JsonObject& raw(std::string_view name, std::string_view json);
    JsonObject& text(std::string_view name, std::string_view value) {
        return raw(name, jsonString(value));
    }
    JsonObject& flag(std::string_view name, bool value) {
        return raw(name, value ? "true" : "false");
    }
    std::string str() const { return "{" + members_ + "}"; }

  private:
    std::string members_;
};

}  // namespace velkora::cli
