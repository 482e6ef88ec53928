#include "platform/console_encoding.h"

namespace velkora::platform {

// A terminal shows UTF-8 by its own setting; nothing is switched.
Utf8ConsoleOutputScope::Utf8ConsoleOutputScope() = default;
Utf8ConsoleOutputScope::~Utf8ConsoleOutputScope() = default;

}  // namespace velkora::platform
