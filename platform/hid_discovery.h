#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid_port.h"

namespace velkora::platform {

// True when the path carries the adapter's IDs as Windows writes them into a HID interface
// path, "vid_0483&pid_a5b9" with four hexadecimal digits each. Windows writes them in either
// letter case ("VID_0483&PID_A5B9" is common), so the comparison ignores the case of ASCII
// letters.
bool pathNamesAdapter(const NativeString& path);

// The system's list of HID interfaces as discovery walks it, one index after the other. The
// Windows listing sits on SetupAPI; tests put a plain table in its place.
class HidInterfaceListing {
  public:
    struct Entry {
        enum class Kind {
            Interface,   // `path` holds the interface's path
            Unreadable,  // this index could not be read; the walk goes on with the next one
            EndOfList,
        };
        Kind kind = Kind::EndOfList;
        NativeString path;
    };

    struct UsbStrings {
        std::string manufacturer;  // UTF-8; a string whose read failed is empty
        std::string product;
        std::string serial;
    };

    virtual ~HidInterfaceListing() = default;
    virtual Entry entryAt(std::uint32_t index) = 0;

    // The interface's three USB strings, read without access rights so that an interface
    // another program holds open can still be named. Empty when even that open is refused.
    virtual std::optional<UsbStrings> usbStrings(const NativeString& path) = 0;
};

// Every interface of the listing whose path names the adapter, in listing order. A record
// keeps the path exactly as listed and is kept even when its strings cannot be read: such an
// interface is still a device the user has plugged in, and hiding it would make a faulty
// adapter look absent.
std::vector<HidDeviceInfo> discoverAdapterInterfaces(HidInterfaceListing& listing);

}  // namespace velkora::platform
