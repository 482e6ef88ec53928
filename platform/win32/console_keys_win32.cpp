#include <conio.h>

#include "platform/console_keys.h"

namespace velkora::platform {
namespace {

// The console runtime reads keys without echo and reports extended keys as two codes.
class WindowsConsoleKeys final : public ConsoleKeys {
  public:
    bool keyWaiting() override { return _kbhit() != 0; }
    int readKey() override { return _getch(); }
};

}  // namespace

ConsoleKeys& systemConsoleKeys() {
    static WindowsConsoleKeys keys;
    return keys;
}

}  // namespace velkora::platform
