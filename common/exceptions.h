#pragma once

#include <exception>
#include <stdexcept>

// The three exceptions that carry the updater's control flow across subsystems. Every other
// failure is a std::runtime_error whose message is the text shown to the user; DeviceRefused
// marks the ones where the adapter itself said no.

namespace velkora {

// The user cancelled the wait for the adapter. `quiet` is set when there was no update
// firmware, so there is nothing to report and the program ends silently.
class UserCancelled : public std::exception {
  public:
    explicit UserCancelled(bool quiet) : quiet_(quiet) {}
    const char* what() const noexcept override { return "Updater cancelled by user."; }
    bool quiet() const noexcept { return quiet_; }

  private:
    bool quiet_;
};

// A fresh run of the updater is wanted, in the same process and under the same guard.
class RestartRequested : public std::exception {};

// The configuration editor ended with a failure; reported under its own heading.
class ConfigurationFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The adapter answered a request with a failure status, or reported a state in which the
// request cannot safely go on: it refused, where other failures are a lost connection, a bad
// answer or a bad package. Handled like any other failure, except by callers that report the
// two apart (the command-line program's exit codes).
class DeviceRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace velkora
