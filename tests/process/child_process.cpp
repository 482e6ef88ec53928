#include "tests/process/child_process.h"

#include <algorithm>
#include <stdexcept>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

namespace velkora::testing {
namespace {

std::filesystem::path programsFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

const std::filesystem::path kDemoName = "velkora-updater-demo";

}  // namespace

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment, bool terminal) {
    int toChild[2] = {-1, -1};
    int fromChild[2] = {-1, -1};
    if (!terminal && (pipe(toChild) != 0 || pipe(fromChild) != 0)) {
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
            for (const int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) {
                close(fd);
            }
        }
        for (const std::string& entry : environment) {
            putenv(const_cast<char*>(entry.c_str()));
        }
        std::vector<std::string> words{program.string()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (terminal) {
        input_ = master;
        output_ = dup(master);
        return;
    }
    close(toChild[0]);
    close(fromChild[1]);
    input_ = toChild[1];
    output_ = fromChild[0];
}

ChildProcess::~ChildProcess() {
    if (!reaped_) {
        kill();
        wait();
    }
    closeInput();
    close(output_);
}

std::string ChildProcess::readUntil(const std::string& marker) {
    std::string text;
    char c = 0;
    pollfd ready{output_, POLLIN, 0};
    while ((marker.empty() || !text.ends_with(marker)) && poll(&ready, 1, 30000) > 0 &&
           read(output_, &c, 1) == 1) {
        text += c;
    }
    return text;
}

std::string ChildProcess::readAll() {
    return readUntil("");
}

void ChildProcess::writeInput(const std::string& text) {
    // A child that has already ended must fail the write, not end the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    for (std::size_t offset = 0; offset < text.size();) {
        const ssize_t written = write(input_, text.data() + offset, text.size() - offset);
        if (written <= 0) {
            throw std::runtime_error("writing to the child's input failed");
        }
        offset += static_cast<std::size_t>(written);
    }
}

void ChildProcess::closeInput() {
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
}

void ChildProcess::kill() {
    ::kill(pid_, SIGKILL);
}

void ChildProcess::signal(int number) {
    ::kill(pid_, number);
}

int ChildProcess::wait() {
    if (!reaped_) {
        waitpid(pid_, &status_, 0);
        reaped_ = true;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

bool ChildProcess::terminalInLineMode() const {
    termios settings{};
    return tcgetattr(output_, &settings) == 0 && (settings.c_lflag & ICANON) != 0 &&
           (settings.c_lflag & ECHO) != 0;
}

DemoCopy::DemoCopy(const std::string& scenarioText) {
    namespace fs = std::filesystem;
    const fs::path built = programsFolder().parent_path() / "demo";
    fs::copy_file(built / kDemoName, folder_.path() / kDemoName);
    fs::copy(built / "firmware", folder_.path() / "firmware", fs::copy_options::recursive);
    writeFileText(folder_.path() / "scenario.scn", scenarioText);
}

std::unique_ptr<ChildProcess> DemoCopy::start(bool terminal) const {
    return launch(folder_.path() / kDemoName,
                  {"--scenario", (folder_.path() / "scenario.scn").string()}, terminal);
}

std::unique_ptr<ChildProcess> DemoCopy::startUpdater() const {
    return launch(programsFolder() / "velkora-updater", {}, false);
}

std::unique_ptr<ChildProcess> DemoCopy::launch(const std::filesystem::path& program,
                                               const std::vector<std::string>& arguments,
                                               bool terminal) const {
    return std::make_unique<ChildProcess>(
        program, arguments, std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime_.path().string()},
        terminal);
}

std::vector<std::filesystem::path> DemoCopy::files(const std::string& prefix) const {
    std::vector<std::filesystem::path> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path() / "logs", error)) {
        if (entry.path().filename().string().starts_with(prefix)) {
            found.push_back(entry.path());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::string consoleText(std::string output) {
    std::erase(output, '\r');
    if (output.starts_with("velkora-updater-demo:")) {
        output.erase(0, output.find('\n') + 1);
    }
    return output;
}

}  // namespace velkora::testing
