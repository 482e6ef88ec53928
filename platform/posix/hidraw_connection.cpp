#include "platform/posix/hidraw_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/report_queue.h"

namespace velkora::platform::posix {
namespace {

using Status = HidIoResult::Status;
using SteadyClock = std::chrono::steady_clock;

std::string errnoDetail(int error) {
    return "errno " + std::to_string(error);
}

class HidrawConnection final : public HidConnection {
  public:
    explicit HidrawConnection(int fd) : fd_(fd) {
        const int flags = fcntl(fd_, F_GETFL);
        if (flags >= 0) {
            fcntl(fd_, F_SETFL, flags | O_NONBLOCK);
        }
    }
    ~HidrawConnection() override { ::close(fd_); }
    HidrawConnection(const HidrawConnection&) = delete;
    HidrawConnection& operator=(const HidrawConnection&) = delete;

    // A hidraw write returns once the kernel has handed the report to the device, and the
    // kernel bounds that itself (five seconds for USB); it does not heed O_NONBLOCK. Nothing
    // stays pending that a time-out of ours would have to cancel, so the time-out is not used;
    // the kernel's own time-out is reported as the write timing out.
    HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t) override {
        for (;;) {
            const ssize_t written = ::write(fd_, report.data(), report.size());
            if (written >= 0) {
                return {Status::Completed, static_cast<std::uint32_t>(written), {}};
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno == ETIMEDOUT) {
                return {Status::TimedOut, 0, {}};
            }
            return {Status::Failed, 0, errnoDetail(errno)};
        }
    }

    // Whenever no report is in hand, the connection takes every report the kernel holds for
    // it at once. That keeps the kernel's small queue as empty as the program's pace allows,
    // and it tells when the queue was full: everything that was in it when the kernel had to
    // drop a report is taken in one go, so a take of a whole queue's worth is the only sign
    // the kernel gives of a loss. Reports the kernel queued before its device went are still
    // handed over; only then does a read fail.
    HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) override {
        const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
        while (queue_.empty()) {
            if (failure_ != 0) {
                return {Status::Failed, 0, errnoDetail(failure_)};
            }
            if (!waitForInput(deadline)) {
                return {Status::TimedOut, 0, {}};
            }
            takeQueued(buffer.size());
        }
        return queue_.handOver(buffer);
    }

  private:
    // False when the deadline passes with nothing to read. A device that has gone counts as
    // something to read: the read that follows finds out.
    bool waitForInput(SteadyClock::time_point deadline) {
        for (;;) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
            const int timeout =
                static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, INT_MAX));
            pollfd watch{fd_, POLLIN, 0};
            const int ready = poll(&watch, 1, timeout);
            if (ready > 0) {
                return true;
            }
            if (ready == 0) {
                return false;
            }
            if (errno != EINTR) {
                failure_ = errno;
                return true;
            }
        }
    }

    void takeQueued(std::size_t reportSize) {
        std::size_t taken = 0;
        std::vector<std::uint8_t> report(reportSize);
        for (;;) {
            const ssize_t count = ::read(fd_, report.data(), report.size());
            if (count > 0) {
                queue_.push(std::span(report).first(static_cast<std::size_t>(count)));
                ++taken;
                continue;
            }
            if (count < 0 && errno == EINTR) {
                continue;
            }
            // hidraw answers EIO once its device has gone and nothing is left, and a stream's
            // end of file says the same. The kernel names a device that has gone ENODEV when
            // a write meets it: an unplug reads the same whichever operation meets it.
            if (count == 0 || errno == EIO) {
                failure_ = ENODEV;
            } else if (errno != EAGAIN) {
                failure_ = errno;
            }
            break;
        }
        queue_.noteTake(taken, kHidrawQueueReports);
    }

    int fd_;
    ReportQueue queue_;
    int failure_ = 0;  // why reads fail once the reports in hand are gone; 0 while they work
};

}  // namespace

std::unique_ptr<HidConnection> makeHidrawConnection(int fd) {
    return std::make_unique<HidrawConnection>(fd);
}

HidOpenResult openHidrawNode(const std::string& path,
                             const std::function<int(const char*)>& openNode,
                             std::chrono::milliseconds grace) {
    constexpr auto kPermissionRetry = std::chrono::milliseconds(50);
    const auto deadline = SteadyClock::now() + grace;
    HidOpenResult opened;
    for (;;) {
        const int fd = openNode(path.c_str());
        if (fd >= 0) {
            opened.connection = makeHidrawConnection(fd);
            return opened;
        }
        const int error = errno;
        if ((error != EACCES && error != EPERM) || SteadyClock::now() >= deadline) {
            // The most common failure is a missing udev rule; strerror's "Permission denied"
            // says so more plainly than the number alone.
            opened.errorDetail = errnoDetail(error) + " (" + std::strerror(error) + ")";
            return opened;
        }
        std::this_thread::sleep_for(kPermissionRetry);
    }
}

}  // namespace velkora::platform::posix
