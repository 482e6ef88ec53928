#include "platform/native_string.h"

namespace velkora::platform {

// Paths and device paths are UTF-8 bytes on POSIX systems already.
std::string toUtf8(const NativeString& text) {
    return text;
}

NativeString fromUtf8(const std::string& text) {
    return text;
}

bool equalsIgnoringCase(const NativeString& a, const NativeString& b) {
    if (a.size() != b.size()) {
        return false;
    }
    auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace velkora::platform
