#pragma once

#include <cstdint>
#include <string_view>

#include "package/firmware_version.h"

namespace velkora {

// The package's compatibility value from its manifest text: decimal, or hexadecimal after
// "0x" or "0X", blanks around it allowed. Fails with "invalid stoul argument" when there is
// no number, "stoul argument out of range" beyond 32 bits, and "Invalid
// package_compatibility value: <text as given>" when the number is followed by anything or
// is 256 or more.
std::uint8_t parsePackageCompatibility(std::string_view text);

// Three or four dot-separated decimal components of one to three digits each, nothing before
// or after; three components give build 0. Fails with "Invalid <label> version format:
// <text>".
FirmwareVersion parseFirmwareVersion(std::string_view text, std::string_view label);

// Whether the name can only mean a regular file directly inside the firmware folder, on every
// system: not empty, not "." or "..", no "/", "\" or ":", no ".." anywhere, no control
// character (bytes below 0x20 and 0x7F, the zero byte among them), not ending in a dot or a
// blank (Windows drops those), and not a name that Windows gives to a device (CON, PRN, AUX,
// NUL, COM1 to COM9, LPT1 to LPT9, in any case, with or without an extension).
bool isPlainFileName(std::string_view name);

}  // namespace velkora
