#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velkora::cli {

// A command line that cannot be carried out as written; nothing was done.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What one command line asks for, checked in full before anything else happens.
struct CliRequest {
    std::string command;  // "list", "info", "update", ..., "config show", "config set", ...
    bool help = false;
    bool version = false;
    bool json = false;
    bool yes = false;
    bool store = false;
    std::optional<std::string> serial;
    // After EXIT, a store or an update the adapter takes a moment to come back in its
    // bootloader; a script's next command finds it without a --wait of its own.
    std::uint32_t waitSeconds = 10;
    std::optional<std::string> package;  // UTF-8, as typed
    std::optional<std::string> save;
    std::vector<std::pair<std::uint8_t, std::uint8_t>> changes;  // config set: item, value
};

// The text of --help.
extern const char* const kUsage;

// Reads the arguments after the program's name (UTF-8). Fails with UsageError.
CliRequest parseCliArguments(const std::vector<std::string>& arguments);

}  // namespace velkora::cli
