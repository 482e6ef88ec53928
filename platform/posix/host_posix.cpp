#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/host.h"

namespace velkora::platform {
namespace {

// The claim is an exclusive lock on a file; the kernel releases it when the process ends in
// any way, so a crashed updater never blocks the next start.
class LockFileGuard final : public InstanceGuard {
  public:
    explicit LockFileGuard(int fd) : fd_(fd) {}
    ~LockFileGuard() override { close(fd_); }
    LockFileGuard(const LockFileGuard&) = delete;
    LockFileGuard& operator=(const LockFileGuard&) = delete;

  private:
    int fd_;
};

// The user's runtime folder is private to the user. Without one, the lock file lives in /tmp
// under a per-user name; as anyone may create files there, a link or another user's file in
// its place is refused rather than followed.
std::string lockFilePath() {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir != nullptr && runtimeDir[0] == '/') {
        struct stat info {};
        if (stat(runtimeDir, &info) == 0 && S_ISDIR(info.st_mode)) {
            return std::string(runtimeDir) + "/velkora-firmware-updater.lock";
        }
    }
    return "/tmp/velkora-firmware-updater-" + std::to_string(getuid()) + ".lock";
}

class PosixHost final : public Host {
  public:
    InstanceClaim claimSingleInstance() override {
        InstanceClaim claim;
        int fd = open(lockFilePath().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            return claim;
        }
        struct stat info {};
        if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != getuid()) {
            close(fd);
            return claim;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            int error = errno;
            close(fd);
            if (error == EWOULDBLOCK) {
                claim.outcome = InstanceClaimOutcome::AlreadyRunning;
            }
            return claim;
        }
        claim.outcome = InstanceClaimOutcome::Acquired;
        claim.guard = std::make_unique<LockFileGuard>(fd);
        return claim;
    }

    std::filesystem::path programFolder() override {
        std::vector<char> buffer(260);
        for (;;) {
            ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
            if (length <= 0) {
                throw std::runtime_error("Unable to find the program's own path.");
            }
            if (static_cast<std::size_t>(length) < buffer.size()) {
                std::string path(buffer.data(), static_cast<std::size_t>(length));
                return std::filesystem::path(path).parent_path();
            }
            buffer.resize(buffer.size() * 2);
        }
    }

    std::string osVersionLine() override {
        utsname name{};
        if (uname(&name) != 0) {
            return "OS version unknown";
        }
        return std::string("OS version ") + name.sysname + " " + name.release;
    }
};

}  // namespace

Host& systemHost() {
    static PosixHost host;
    return host;
}

}  // namespace velkora::platform
