#pragma once

#include <functional>
#include <vector>

#include "platform/native_string.h"
#include "platform/services.h"

namespace velkora {

// One pass of the updater, given the service-mode flag.
using UpdaterRun = std::function<void(bool serviceMode)>;

// True when any argument after the program's own name is "--service", in any letter case.
bool isServiceModeRequested(const std::vector<platform::NativeString>& arguments);

// The process's entry: claims the single-instance guard, runs the updater until it returns
// or fails (starting it again on each restart), prints the closing message, waits for Enter
// where the user has something to read, and returns the process exit code (0 or 1).
// `arguments` holds the whole command line, the program's name first.
int runEntryPoint(platform::Services& services,
                  const std::vector<platform::NativeString>& arguments, const UpdaterRun& run);

}  // namespace velkora
