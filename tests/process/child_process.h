#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace velkora::testing {

// A program started by a test, its standard input and output on pipes or, with `terminal`, on
// a pseudo-terminal that is also its controlling terminal. `environment` holds "NAME=value"
// entries added to the test's own. Reads give up after 30 s without output, so that a child
// that stops writing without ending fails the test instead of hanging it.
class ChildProcess {
  public:
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment, bool terminal);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The output until it ends with `marker`, or until the child's output ends.
    std::string readUntil(const std::string& marker);
    std::string readAll();
    void writeInput(const std::string& text);  // all of it, as typed answers
    void closeInput();
    void kill();  // SIGKILL: no clean-up runs in the child
    void signal(int number);
    int wait();  // the exit code, 128 + the signal's number when a signal ended it

    // Whether the child's terminal reads whole lines and echoes them, as a shell leaves it.
    bool terminalInLineMode() const;

  private:
    int pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    bool reaped_ = false;
    int status_ = 0;
};

// A copy of velkora-updater-demo (which the build puts in a folder of its own beside the
// programs) in a temporary folder, with its firmware package and a scenario, so that every
// test sees only its own logs; each copy also has its own runtime folder for the
// single-instance lock, which the updater started beside it shares.
class DemoCopy {
  public:
    explicit DemoCopy(const std::string& scenarioText);

    // The demo on its scenario, or the updater itself; `terminal` as for ChildProcess.
    std::unique_ptr<ChildProcess> start(bool terminal = false) const;
    std::unique_ptr<ChildProcess> startUpdater() const;

    // The files in logs/ whose names start with `prefix`, sorted by name, which for run logs
    // and fault dumps is the order in which they were written.
    std::vector<std::filesystem::path> files(const std::string& prefix) const;

  private:
    std::unique_ptr<ChildProcess> launch(const std::filesystem::path& program,
                                         const std::vector<std::string>& arguments,
                                         bool terminal) const;

    TempFolder folder_;
    TempFolder runtime_;
};

// The console text with plain line feeds and without the demo's note on its error stream.
std::string consoleText(std::string output);

}  // namespace velkora::testing
