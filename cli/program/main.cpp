#include <iostream>
#include <vector>

#include "cli/cli_entry.h"
#include "platform/console_encoding.h"
#include "platform/services.h"

namespace {

int cliMain(const std::vector<velkora::platform::NativeString>& arguments) {
    // Results and messages reach a pipe in the order they were written.
    std::cout.setf(std::ios::unitbuf);
    const velkora::platform::Utf8ConsoleOutputScope utf8Console;
    return velkora::cli::runCli(velkora::platform::systemServices(), arguments, std::cerr,
                                velkora::platform::standardErrorIsTerminal());
}

}  // namespace

// Windows hands the program its arguments as UTF-16 through wmain; elsewhere they are bytes.
#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return cliMain(std::vector<velkora::platform::NativeString>(argv, argv + argc));
}
#else
int main(int argc, char** argv) {
    return cliMain(std::vector<velkora::platform::NativeString>(argv, argv + argc));
}
#endif
