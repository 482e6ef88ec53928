#include <windows.h>

#include "platform/native_string.h"

namespace velkora::platform {

std::string toUtf8(const NativeString& text) {
    if (text.empty()) {
        return {};
    }
    // The system's plain conversion: a lone surrogate becomes U+FFFD. Refusing such a text
    // would empty it, and an emptied serial number would let the wait for the management
    // interface take any adapter's.
    const int wideLength = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::string result(static_cast<std::size_t>(size), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text.data(), wideLength, result.data(), size, nullptr,
                            nullptr) != size) {
        return {};
    }
    return result;
}

NativeString fromUtf8(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::wstring result(static_cast<std::size_t>(size), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), size) != size) {
        return {};
    }
    return result;
}

bool equalsIgnoringCase(const NativeString& a, const NativeString& b) {
    return lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

}  // namespace velkora::platform
