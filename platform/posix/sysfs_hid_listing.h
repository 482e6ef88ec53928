#pragma once

#include <filesystem>
#include <vector>

#include "platform/hid_port.h"

namespace velkora::platform::posix {

// Every hidraw node whose HID device carries the adapter's vendor and product ID, read from
// sysfs below `sysfs` (normally /sys), with the node's path below `dev` (normally /dev), in
// the order of the nodes' numbers.
//
// The strings are those of the USB device above the HID device, as its descriptors gave them
// at enumeration (the kernel keeps them in sysfs, in UTF-8); a HID device with no USB device
// above it (a virtual one) has only its own name, which stands for the product, and its
// unique ID, which stands for the serial number. A string that cannot be read is empty.
//
// Devices come and go while the list is read, the adapter itself whenever it changes identity:
// a device whose entries vanish while it is read is simply not listed. Only a sysfs that
// cannot be read at all is an error.
std::vector<HidDeviceInfo> listAdapterHidrawNodes(const std::filesystem::path& sysfs,
                                                  const std::filesystem::path& dev);

}  // namespace velkora::platform::posix
