#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/hid_port.h"

namespace velkora::platform::posix {

// The kernel keeps the input reports of one open hidraw node in a ring of 64 entries of which
// one always stays free: 63 reports wait for a reader, and the kernel drops each further one
// until the reader takes some.
inline constexpr std::size_t kHidrawQueueReports = 63;

// A connection over an open hidraw node (or anything that reads like one: one report per
// read, EAGAIN when none waits, EIO or end of file once the device has gone), which it owns
// and closes. The descriptor is switched to non-blocking reads.
std::unique_ptr<HidConnection> makeHidrawConnection(int fd);

// The kernel lists a device that has just appeared before udev has applied the rules that
// open its node to the user: until then the node belongs to root alone, for a few
// milliseconds, longer on a busy system. A refused open is tried again for this long before
// it counts; without a rule that grants access it still fails, only later.
inline constexpr std::chrono::milliseconds kPermissionGrace{2000};

// Opens a hidraw node for reading and writing with `openNode` (open(2) with those flags, or
// what a test plays in its place), trying a refused open (EACCES, EPERM) again for `grace`.
// The failure names the errno and its text.
HidOpenResult openHidrawNode(const std::string& path,
                             const std::function<int(const char*)>& openNode,
                             std::chrono::milliseconds grace = kPermissionGrace);

}  // namespace velkora::platform::posix
