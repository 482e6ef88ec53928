#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace velkora::testing {

// A program started by a test with `words` as its command line and `runtimeFolder` as its
// XDG_RUNTIME_DIR, its standard input and output on pipes or, with `terminal`, on a
// pseudo-terminal that is also its controlling terminal. Reads give up after 30 s without
// output, so that a child that hangs fails the test instead of hanging it.
class ChildProcess {
  public:
    ChildProcess(std::vector<std::string> words, const std::filesystem::path& runtimeFolder,
                 bool terminal) {
        int toChild[2] = {-1, -1};
        int fromChild[2] = {-1, -1};
        // Closed on exec, the pipes' ends reach no child but as its standard streams.
        if (!terminal && (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)) {
            throw std::runtime_error("pipe failed");
        }
        int master = -1;
        pid_ = terminal ? forkpty(&master, nullptr, nullptr, nullptr) : fork();
        if (pid_ < 0) {
            throw std::runtime_error("fork failed");
        }
        if (pid_ == 0) {
            if (!terminal) {
                dup2(toChild[0], STDIN_FILENO);
                dup2(fromChild[1], STDOUT_FILENO);
                dup2(fromChild[1], STDERR_FILENO);
            }
            setenv("XDG_RUNTIME_DIR", runtimeFolder.c_str(), 1);
            std::vector<char*> argv;
            for (std::string& word : words) {
                argv.push_back(word.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (!terminal) {
            close(toChild[0]);
            close(fromChild[1]);
        }
        input_ = terminal ? master : toChild[1];
        output_ = terminal ? dup(master) : fromChild[0];
    }
    ~ChildProcess() {
        if (!reaped_) {
            signal(SIGKILL);
            wait();
        }
        closeInput();
        close(output_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The output until it ends with `marker`, or until the child's output ends or pauses for
    // `quietMs`. With `shown`, until what it makes of the output ends so (a console that draws
    // with escape sequences).
    std::string readUntil(const std::string& marker,
                          std::string (*shown)(const std::string&) = nullptr, int quietMs = 30000) {
        std::string text;
        char c = 0;
        pollfd ready{output_, POLLIN, 0};
        const auto done = [&] {
            return !marker.empty() && c == marker.back() &&
                   (shown != nullptr ? shown(text) : text).ends_with(marker);
        };
        while (!done() && poll(&ready, 1, quietMs) > 0 && read(output_, &c, 1) == 1) {
            text += c;
        }
        return text;
    }
    std::string readAll() { return readUntil(""); }

    // Typed answers: a few bytes, which a pipe or terminal takes whole.
    void writeInput(const std::string& text) {
        // A child that has already ended must fail the write, not end the test with SIGPIPE.
        ::signal(SIGPIPE, SIG_IGN);
        if (write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            throw std::runtime_error("writing to the child's input failed");
        }
    }
    void closeInput() {
        if (input_ >= 0) {
            close(input_);
            input_ = -1;
        }
    }

    // SIGKILL leaves the child no clean-up.
    void signal(int number) { ::kill(pid_, number); }

    // The exit code, 128 + the signal's number when a signal ended it.
    int wait() {
        if (!reaped_) {
            waitpid(pid_, &status_, 0);
            reaped_ = true;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }

    // Waits up to 10 s for the child to take its terminal out of line mode, as a wait for single
    // keys does.
    void awaitSingleKeys() const {
        for (int tries = 0; tries < 200 && terminalInLineMode(); ++tries) {
            usleep(50000);
        }
    }

    // Whether the child's terminal reads whole lines and echoes them, as a shell leaves it.
    bool terminalInLineMode() const {
        termios settings{};
        return tcgetattr(output_, &settings) == 0 && (settings.c_lflag & ICANON) != 0 &&
               (settings.c_lflag & ECHO) != 0;
    }

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
    explicit DemoCopy(const std::string& scenarioText) {
        namespace fs = std::filesystem;
        const fs::path built = programsFolder().parent_path() / "demo";
        fs::copy_file(built / kDemo, folder_.path() / kDemo);
        fs::copy(built / "firmware", folder_.path() / "firmware", fs::copy_options::recursive);
        writeFileText(folder_.path() / "scenario.scn", scenarioText);
    }

    // The demo on its scenario, or the updater itself; `terminal` as for ChildProcess.
    std::unique_ptr<ChildProcess> start(bool terminal = false) const {
        const std::filesystem::path& folder = folder_.path();
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{folder / kDemo, "--scenario", folder / "scenario.scn"},
            runtime_.path(), terminal);
    }
    std::unique_ptr<ChildProcess> startUpdater() const {
        return std::make_unique<ChildProcess>(
            std::vector<std::string>{programsFolder() / "velkora-updater"}, runtime_.path(), false);
    }

    // The files in logs/ whose names start with `prefix`, sorted by name, which for run logs
    // and fault dumps is the order in which they were written.
    std::vector<std::filesystem::path> files(const std::string& prefix) const {
        std::vector<std::filesystem::path> found;
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(folder_.path() / "logs", error)) {
            if (entry.path().filename().string().starts_with(prefix)) {
                found.push_back(entry.path());
            }
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    // The folder the build puts the programs in, which is also this test program's own.
    static std::filesystem::path programsFolder() {
        return std::filesystem::read_symlink("/proc/self/exe").parent_path();
    }

  private:
    static constexpr const char* kDemo = "velkora-updater-demo";

    TempFolder folder_;
    TempFolder runtime_;
};

// The console text with plain line feeds and without the demo's note on its error stream.
inline std::string consoleText(std::string output) {
    std::erase(output, '\r');
    if (output.starts_with("velkora-updater-demo:")) {
        output.erase(0, output.find('\n') + 1);
    }
    return output;
}

}  // namespace velkora::testing
