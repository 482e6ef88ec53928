#include <iostream>
#include <vector>

#include "app/entry_point.h"
#include "app/updater_run.h"
#include "platform/console_encoding.h"
#include "platform/services.h"

namespace {

int updaterMain(const std::vector<velkora::platform::NativeString>& arguments) {
    // Every piece of output reaches the console (or a pipe) before the program blocks on a
    // device, a sleep or a question, so a dialogue captured by tee is complete at all times.
    std::cout.setf(std::ios::unitbuf);
    // File and folder names outside ASCII show as written in a Windows console too.
    const velkora::platform::Utf8ConsoleOutputScope utf8Console;
    velkora::platform::Services& services = velkora::platform::systemServices();
    return velkora::runEntryPoint(services, arguments, [&services](bool serviceMode) {
        velkora::runUpdater(services, serviceMode);
    });
}

}  // namespace

// Windows hands the program its arguments as UTF-16 through wmain; elsewhere they are bytes.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return updaterMain(std::vector<velkora::platform::NativeString>(argv, argv + argc));
}
#else
int main(int argc, char** argv) {
    return updaterMain(std::vector<velkora::platform::NativeString>(argv, argv + argc));
}
#endif
