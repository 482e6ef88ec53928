#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>

#include "platform/hid_port.h"

namespace velkora::platform::win32 {

// Wraps a handle opened with FILE_FLAG_OVERLAPPED in a HidConnection that owns and closes it.
// Exposed on its own so that the overlapped reads and writes can be exercised against any
// overlapped handle, a named pipe in the tests for example.
//
// `reportBytes` is the length of one input report (0: unknown, each read is one report) and
// `queuedReports` the number of input reports the system holds for the handle, so that the
// connection can take every report waiting in one read and tell when the system's queue was
// full.
std::unique_ptr<HidConnection> makeOverlappedConnection(HANDLE handle, std::size_t reportBytes,
                                                        std::size_t queuedReports);

}  // namespace velkora::platform::win32
