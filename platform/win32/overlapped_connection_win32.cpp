#include "platform/win32/overlapped_connection.h"

#include <string>

namespace velkora::platform::win32 {
namespace {

using Status = HidIoResult::Status;

std::string windowsError(DWORD code) {
    return "Windows error " + std::to_string(code);
}

// An unnamed manual-reset event for one overlapped operation, closed when it goes away.
class OperationEvent {
  public:
    OperationEvent() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~OperationEvent() {
        if (event_ != nullptr) {
            CloseHandle(event_);
        }
    }
    OperationEvent(const OperationEvent&) = delete;
    OperationEvent& operator=(const OperationEvent&) = delete;
    bool valid() const { return event_ != nullptr; }
    HANDLE get() const { return event_; }

  private:
    HANDLE event_;
};

class OverlappedConnection final : public HidConnection {
  public:
    explicit OverlappedConnection(HANDLE handle) : handle_(handle) {}
    ~OverlappedConnection() override { CloseHandle(handle_); }
    OverlappedConnection(const OverlappedConnection&) = delete;
    OverlappedConnection& operator=(const OverlappedConnection&) = delete;

    HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t timeoutMs) override {
        OperationEvent event;
        if (!event.valid()) {
            return {Status::EventFailed, 0, {}};
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        if (!WriteFile(handle_, report.data(), static_cast<DWORD>(report.size()), nullptr,
                       &overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                return {Status::Failed, 0, windowsError(error)};
            }
            // Any end of the wait other than the event, a failed wait included, counts as
            // the write not finishing in time.
            if (WaitForSingleObject(event.get(), timeoutMs) != WAIT_OBJECT_0) {
                return cancelAndSettle(overlapped, {Status::TimedOut, 0, {}});
            }
        }
        return collect(overlapped);
    }

    HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) override {
        OperationEvent event;
        if (!event.valid()) {
            return {Status::EventFailed, 0, {}};
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        if (!ReadFile(handle_, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr,
                      &overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                return {Status::Failed, 0, windowsError(error)};
            }
            const DWORD wait = WaitForSingleObject(event.get(), timeoutMs);
            if (wait == WAIT_FAILED) {
                const DWORD waitError = GetLastError();
                return cancelAndSettle(overlapped,
                                       {Status::WaitFailed, 0, windowsError(waitError)});
            }
            if (wait != WAIT_OBJECT_0) {
                return cancelAndSettle(overlapped, {Status::TimedOut, 0, {}});
            }
        }
        return collect(overlapped);
    }

  private:
    // The operation has finished (at once or by signalling its event): its result is there
    // without waiting.
    HidIoResult collect(OVERLAPPED& overlapped) {
        DWORD transferred = 0;
        if (!GetOverlappedResult(handle_, &overlapped, &transferred, FALSE)) {
            return {Status::Failed, 0, windowsError(GetLastError())};
        }
        return {Status::Completed, transferred, {}};
    }

    // The system may write into the buffer and the OVERLAPPED record until a cancelled
    // operation has really finished, and both live on the caller's stack: wait for it before
    // they go away. An operation can finish between the end of the wait and the cancel; its
    // data has then moved all the same, so it is reported as done rather than as `abandoned`.
    // Otherwise a report read in that instant would be lost, and a report the device did
    // receive would be reported as not sent.
    HidIoResult cancelAndSettle(OVERLAPPED& overlapped, HidIoResult abandoned) {
        CancelIo(handle_);
        DWORD transferred = 0;
        if (GetOverlappedResult(handle_, &overlapped, &transferred, TRUE)) {
            return {Status::Completed, transferred, {}};
        }
        return abandoned;
    }

    HANDLE handle_;
};

}  // namespace

std::unique_ptr<HidConnection> makeOverlappedConnection(HANDLE handle) {
    return std::make_unique<OverlappedConnection>(handle);
}

}  // namespace velkora::platform::win32
