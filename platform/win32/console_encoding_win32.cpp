#include <windows.h>

#include <io.h>

#include <cstdio>

#include "platform/console_encoding.h"

namespace velkora::platform {

// Without a console (output redirected by a program that has none) the code page reads as 0
// and there is nothing to change.
Utf8ConsoleOutputScope::Utf8ConsoleOutputScope() {
    const UINT current = GetConsoleOutputCP();
    if (current != 0 && current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        previousCodePage_ = current;
    }
}

Utf8ConsoleOutputScope::~Utf8ConsoleOutputScope() {
    if (previousCodePage_ != 0) {
        SetConsoleOutputCP(previousCodePage_);
    }
}

bool standardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

}  // namespace velkora::platform
