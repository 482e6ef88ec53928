#pragma once

#include <string>
#include <string_view>

namespace velkora {

// Removes the terminal colour codes from the device's console text: every sequence of ESC, "[",
// any bytes, and the first "m" after them. The bytes in between are not examined, so any such
// sequence goes whole. Fails with a runtime error on an ESC that is not followed by "[" and at
// least one more byte ("Fault log display failed: unsupported text format.") and on an ESC "["
// that no "m" closes ("Fault log display failed: incomplete text format.").
std::string stripTextFormatting(std::string_view text);

}  // namespace velkora
