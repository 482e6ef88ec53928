#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace velkora::testing {

// A program started by a test, with its standard input and output connected to pipes.
class ChildProcess {
  public:
    // Starts the program with the arguments; `extraEnvironment` holds "NAME=value" entries
    // added to the test's own environment. `terminal` gives the child a pseudo-terminal of
    // its own as its controlling terminal, standard input and output.
    ChildProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& extraEnvironment = {}, bool terminal = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads the child's output up to the next line break (without it); empty at the end.
    std::string readLine();

    // Reads the child's output until it ends with `marker` (a prompt without a line break,
    // for instance) and returns all of it; what was read before the end if the marker never
    // comes.
    std::string readUntil(const std::string& marker);

    // Writes the text to the child's standard input, all of it, as typed answers.
    void writeInput(const std::string& text);

    // Closes the child's standard input.
    void closeInput();

    // Ends the child at once, as SIGKILL or TerminateProcess do: no clean-up runs in it.
    void kill();

    // Waits for the child to end; returns its exit code.
    int wait();

    // Everything the child writes until it ends.
    std::string readAll();

    // Sends the child a signal.
    void signal(int number);

    // Whether the child's terminal reads whole lines and echoes them, as a shell leaves it.
    bool terminalInLineMode() const;

  private:
    // Some bytes read or written, 0 at the end or on a failure.
    std::size_t readSome(char* buffer, std::size_t size);
    std::size_t writeSome(const char* text, std::size_t size);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The folder that holds the running test program (and, beside it, every other program).
std::filesystem::path programsFolder();

// A copy of velkora-updater-demo (which the build puts in a folder of its own beside the
// programs) in a temporary folder, with its firmware package and a scenario, so that every
// test sees only its own logs; each copy also has its own runtime folder for the
// single-instance lock, which the updater started beside it shares.
class DemoCopy {
  public:
    explicit DemoCopy(const std::string& scenarioText);

    // Starts the demo on its scenario, or the updater itself; `terminal` as for ChildProcess.
    std::unique_ptr<ChildProcess> start(bool terminal = false) const;
    std::unique_ptr<ChildProcess> startUpdater() const;

    // The files in logs/ whose names start with `prefix`, sorted by name, which for run logs
    // and fault dumps is the order in which they were written.
    std::vector<std::filesystem::path> files(const std::string& prefix) const;

  private:
    TempFolder folder_;
    TempFolder runtime_;
};

// The console text with plain line feeds and without the demo's note on its error stream.
std::string consoleText(std::string output);

}  // namespace velkora::testing
