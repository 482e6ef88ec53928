#pragma once

#include <windows.h>

#include <memory>

#include "platform/hid_port.h"

namespace velkora::platform::win32 {

// Wraps a handle opened with FILE_FLAG_OVERLAPPED in a HidConnection that owns and closes it.
// Exposed on its own so that the overlapped reads and writes can be exercised against any
// overlapped handle, a named pipe in the tests for example.
std::unique_ptr<HidConnection> makeOverlappedConnection(HANDLE handle);

}  // namespace velkora::platform::win32
