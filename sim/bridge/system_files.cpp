#include "sim/bridge/system_files.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace velkora::sim {

std::string withReason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void writeAttribute(const std::filesystem::path& path, std::string_view text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error(withReason("cannot open " + path.string()));
    }
    const ssize_t written = ::write(fd, text.data(), text.size());
    const int error = errno;
    ::close(fd);
    if (written != static_cast<ssize_t>(text.size())) {
        errno = written < 0 ? error : EIO;
        throw std::runtime_error(
            withReason("cannot write \"" + std::string(text) + "\" to " + path.string()));
    }
}

std::string readAttribute(const std::filesystem::path& path) {
    std::ifstream file(path);
    if (!file) {
        throw std::runtime_error(withReason("cannot read " + path.string()));
    }
    std::string text;
    std::getline(file, text);
    return text;
}

void runProgram(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::string line;
    for (const std::string& argument : arguments) {
        line += (line.empty() ? "" : " ") + argument;
    }
    pid_t child = 0;
    const int error = posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        errno = error;
        throw std::runtime_error(withReason("cannot run " + line));
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error(withReason("cannot wait for " + line));
        }
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(line + " failed");
    }
}

bool isMountPoint(const std::filesystem::path& folder) {
    std::ifstream mounts("/proc/self/mounts");
    std::string device;
    std::string point;
    std::string rest;
    while (mounts >> device >> point && std::getline(mounts, rest)) {
        if (point == folder.string()) {
            return true;
        }
    }
    return false;
}

}  // namespace velkora::sim
