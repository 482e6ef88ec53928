#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace velkora {

// The raw body of the first `"<key>" : "<body>"` pair in the text, escapes still in place, or
// nothing when there is none. White space around the colon may span lines; inside the body
// every backslash must be followed by one more character that is not a line break. A later
// occurrence of the key counts when an earlier one is not followed by a well-formed string.
// The scan never recurses and takes time in proportion to the text, whatever its content.
std::optional<std::string_view> findManifestStringBody(std::string_view text, std::string_view key);

// The unescaped value of the first member with the key. Fails with "Manifest is missing
// required field: <key>" when there is none, and with "Unsupported JSON escape in field:
// <key>" for an escape other than \" \\ \/ \b \f \n \r \t.
std::string extractManifestString(std::string_view text, std::string_view key);

}  // namespace velkora
