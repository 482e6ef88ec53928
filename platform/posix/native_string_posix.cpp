#include <strings.h>

#include "platform/native_string.h"

namespace velkora::platform {

// Paths and device paths are UTF-8 bytes on POSIX systems already.
std::string toUtf8(const NativeString& text) {
    return text;
}

NativeString fromUtf8(const std::string& text) {
    return text;
}

// The updater never changes the C locale, in which only A to Z and a to z differ by case.
bool equalsIgnoringCase(const NativeString& a, const NativeString& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

}  // namespace velkora::platform
