#pragma once

#include <filesystem>
#include <string>

namespace velkora::platform {

// The operating system's own text type for paths and HID device paths: UTF-16 on Windows,
// UTF-8 bytes elsewhere. It is the string type of std::filesystem::path on each platform.
using NativeString = std::filesystem::path::string_type;

// Converts native text to UTF-8 for messages and log lines. On Windows this goes through the
// system's UTF-8 code page; an empty input or a failed conversion gives an empty text.
// Elsewhere native text already is UTF-8 and is returned unchanged.
std::string toUtf8(const NativeString& text);

// The opposite direction, for building native paths from UTF-8 text (tests, the simulator).
NativeString fromUtf8(const std::string& text);

// Compares two command-line arguments without regard to letter case, the way the operating
// system's own shell utilities do.
bool equalsIgnoringCase(const NativeString& a, const NativeString& b);

}  // namespace velkora::platform
