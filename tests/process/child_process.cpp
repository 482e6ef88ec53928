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

constexpr const char* kDemoProgramName = "velkora-updater-demo";

struct ChildProcess::Impl {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    bool reaped = false;
    int status = 0;
};

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& arguments,
                           const std::vector<std::string>& extraEnvironment, bool terminal)
    : impl_(std::make_unique<Impl>()) {
    int toChild[2] = {-1, -1};
    int fromChild[2] = {-1, -1};
    if (!terminal && (pipe(toChild) != 0 || pipe(fromChild) != 0)) {
        throw std::runtime_error("pipe failed");
    }
    int master = -1;
    impl_->pid = terminal ? forkpty(&master, nullptr, nullptr, nullptr) : fork();
    if (impl_->pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (impl_->pid == 0) {
        if (!terminal) {
            dup2(toChild[0], STDIN_FILENO);
            dup2(fromChild[1], STDOUT_FILENO);
            dup2(fromChild[1], STDERR_FILENO);
            close(toChild[0]);
            close(toChild[1]);
            close(fromChild[0]);
            close(fromChild[1]);
        }
        for (const std::string& entry : extraEnvironment) {
            putenv(const_cast<char*>(entry.c_str()));
        }
        std::vector<char*> argv;
        std::string programText = program.string();
        argv.push_back(programText.data());
        std::vector<std::string> copies = arguments;
        for (std::string& argument : copies) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        execv(programText.c_str(), argv.data());
        _exit(127);
    }
    if (terminal) {
        impl_->input = master;
        impl_->output = dup(master);
        return;
    }
    close(toChild[0]);
    close(fromChild[1]);
    impl_->input = toChild[1];
    impl_->output = fromChild[0];
}

void ChildProcess::signal(int number) {
    ::kill(impl_->pid, number);
}

bool ChildProcess::terminalInLineMode() const {
    termios settings{};
    return tcgetattr(impl_->output, &settings) == 0 && (settings.c_lflag & ICANON) != 0 &&
           (settings.c_lflag & ECHO) != 0;
}

ChildProcess::~ChildProcess() {
    if (!impl_->reaped) {
        ::kill(impl_->pid, SIGKILL);
        wait();
    }
    closeInput();
    close(impl_->output);
}

std::size_t ChildProcess::readSome(char* buffer, std::size_t size) {
    // A child that stops writing without ending must fail the test, not hang it.
    pollfd ready{impl_->output, POLLIN, 0};
    const ssize_t count = poll(&ready, 1, 30000) > 0 ? read(impl_->output, buffer, size) : -1;
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::size_t ChildProcess::writeSome(const char* text, std::size_t size) {
    // A child that has already ended must fail the write, not end the test with SIGPIPE.
    ::signal(SIGPIPE, SIG_IGN);
    const ssize_t written = write(impl_->input, text, size);
    return written > 0 ? static_cast<std::size_t>(written) : 0;
}

void ChildProcess::closeInput() {
    if (impl_->input >= 0) {
        close(impl_->input);
        impl_->input = -1;
    }
}

void ChildProcess::kill() {
    ::kill(impl_->pid, SIGKILL);
}

int ChildProcess::wait() {
    if (!impl_->reaped) {
        waitpid(impl_->pid, &impl_->status, 0);
        impl_->reaped = true;
    }
    if (WIFEXITED(impl_->status)) {
        return WEXITSTATUS(impl_->status);
    }
    return 128 + WTERMSIG(impl_->status);
}

std::filesystem::path programsFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::string ChildProcess::readLine() {
    std::string line;
    for (char c = 0; readSome(&c, 1) == 1 && c != '\n';) {
        line += c == '\r' ? "" : std::string(1, c);
    }
    return line;
}

std::string ChildProcess::readUntil(const std::string& marker) {
    std::string text;
    for (char c = 0; !text.ends_with(marker) && readSome(&c, 1) == 1;) {
        text += c;
    }
    return text;
}

std::string ChildProcess::readAll() {
    std::string text;
    char buffer[256];
    for (std::size_t count = 0; (count = readSome(buffer, sizeof(buffer))) > 0;) {
        text.append(buffer, count);
    }
    return text;
}

void ChildProcess::writeInput(const std::string& text) {
    for (std::size_t offset = 0, written = 0; offset < text.size(); offset += written) {
        written = writeSome(text.data() + offset, text.size() - offset);
        if (written == 0) {
            throw std::runtime_error("writing to the child's input failed");
        }
    }
}

DemoCopy::DemoCopy(const std::string& scenarioText) {
    namespace fs = std::filesystem;
    fs::copy_file((programsFolder().parent_path() / "demo") / kDemoProgramName,
                  folder_.path() / kDemoProgramName);
    fs::copy((programsFolder().parent_path() / "demo") / "firmware", folder_.path() / "firmware",
             fs::copy_options::recursive);
    writeFileText(folder_.path() / "scenario.scn", scenarioText);
}

std::unique_ptr<ChildProcess> DemoCopy::start(bool terminal) const {
    return std::make_unique<ChildProcess>(
        folder_.path() / kDemoProgramName,
        std::vector<std::string>{"--scenario", (folder_.path() / "scenario.scn").string()},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime_.path().string()}, terminal);
}

std::unique_ptr<ChildProcess> DemoCopy::startUpdater() const {
    return std::make_unique<ChildProcess>(
        programsFolder() / "velkora-updater", std::vector<std::string>{},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime_.path().string()});
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
