#pragma once

#include <iosfwd>
#include <vector>

#include "platform/native_string.h"
#include "platform/services.h"

namespace velkora::cli {

// The exit codes of velkora-cli, as its help text and the README document them.
namespace exit_code {
inline constexpr int kDone = 0;
inline constexpr int kFailed = 1;     // transport, package, time-out, anything else
inline constexpr int kUsage = 2;      // the command line cannot be carried out as written
inline constexpr int kNoAdapter = 3;  // no adapter, or more than one, to choose from
inline constexpr int kRefused = 4;    // the adapter refused what was asked
inline constexpr int kBusy = 5;       // another Velkora program holds the guard
}  // namespace exit_code

// The entry of velkora-cli, which never asks a question: reads the command line (the program's
// name first), takes the single-instance guard that it shares with the interactive updater,
// writes a run log like the updater's beside the program, carries the command out, and prints
// its result on the services' output stream, as text or as JSON. Messages go to `err`; the
// progress that the layers print (the transfer's percentage, for instance) reaches `err` only
// when that is a terminal, and with --json it becomes JSON lines on the output. Returns the
// exit code.
int runCli(platform::Services& services, const std::vector<platform::NativeString>& arguments,
           std::ostream& err, bool errIsTerminal);

}  // namespace velkora::cli
