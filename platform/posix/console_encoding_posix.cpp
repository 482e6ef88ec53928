#include <unistd.h>

#include "platform/console_encoding.h"

namespace velkora::platform {

// A terminal shows UTF-8 by its own setting; nothing is switched.
Utf8ConsoleOutputScope::Utf8ConsoleOutputScope() = default;
Utf8ConsoleOutputScope::~Utf8ConsoleOutputScope() = default;

bool standardErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

}  // namespace velkora::platform
