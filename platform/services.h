#pragma once

#include <iosfwd>

#include "platform/clock.h"
#include "platform/console_keys.h"
#include "platform/hid_port.h"
#include "platform/host.h"

namespace velkora::platform {

// Everything the updater takes from its surroundings, handed down from the entry point. The
// real program uses systemServices(); tests and the demo put a virtual clock, a simulated
// adapter and scripted console streams in their place.
struct Services {
    Clock& clock;
    HidPort& hid;
    ConsoleKeys& keys;
    Host& host;
    std::istream& in;
    std::ostream& out;
};

// The real operating system: standard input and output, the system clock, the HID bus.
Services& systemServices();

}  // namespace velkora::platform
