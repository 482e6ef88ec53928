#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/new_file.h"

namespace velkora::platform {

NewFileResult writeNewFile(const std::filesystem::path& path, std::string_view bytes) {
    // The mode is what std::ofstream would give a new file, before the umask.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return errno == EEXIST ? NewFileResult::NameTaken : NewFileResult::CannotCreate;
    }
    bool whole = true;
    while (whole && !bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        whole = written > 0;
        if (whole) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }
    // A file system may report a failed write only when the file is closed.
    whole = close(fd) == 0 && whole;
    return whole ? NewFileResult::Written : NewFileResult::CannotWrite;
}

}  // namespace velkora::platform
