#include "platform/win32/overlapped_connection.h"

#include <string>

namespace velkora::platform::win32 {
namespace {

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
            return {HidIoResult::Status::EventFailed, 0, {}};
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        DWORD transferred = 0;
        if (!WriteFile(handle_, report.data(), static_cast<DWORD>(report.size()), nullptr,
                       &overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                return {HidIoResult::Status::Failed, 0, windowsError(error)};
            }
            // Any end of the wait other than the event, a failed wait included, counts as
            // the write not finishing in time.
            if (WaitForSingleObject(event.get(), timeoutMs) != WAIT_OBJECT_0) {
                cancelAndSettle(overlapped);
                return {HidIoResult::Status::TimedOut, 0, {}};
            }
        }
        if (!GetOverlappedResult(handle_, &overlapped, &transferred, FALSE)) {
            return {HidIoResult::Status::Failed, 0, windowsError(GetLastError())};
        }
        return {HidIoResult::Status::Completed, transferred, {}};
    }

    HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) override {
        OperationEvent event;
        if (!event.valid()) {
            return {HidIoResult::Status::EventFailed, 0, {}};
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event.get();
        DWORD transferred = 0;
        if (!ReadFile(handle_, buffer.data(), static_cast<DWORD>(buffer.size()), nullptr,
                      &overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                return {HidIoResult::Status::Failed, 0, windowsError(error)};
            }
            const DWORD wait = WaitForSingleObject(event.get(), timeoutMs);
            if (wait == WAIT_FAILED) {
                const DWORD waitError = GetLastError();
                cancelAndSettle(overlapped);
                return {HidIoResult::Status::WaitFailed, 0, windowsError(waitError)};
            }
            if (wait != WAIT_OBJECT_0) {
                cancelAndSettle(overlapped);
                return {HidIoResult::Status::TimedOut, 0, {}};
            }
        }
        if (!GetOverlappedResult(handle_, &overlapped, &transferred, FALSE)) {
            return {HidIoResult::Status::Failed, 0, windowsError(GetLastError())};
        }
        return {HidIoResult::Status::Completed, transferred, {}};
    }

  private:
    // The system may still write into the buffer and the OVERLAPPED record until a cancelled
    // operation has really finished; both live on the caller's stack, so wait for it before
    // they go away. The result (usually ERROR_OPERATION_ABORTED) is of no further interest.
    void cancelAndSettle(OVERLAPPED& overlapped) {
        CancelIo(handle_);
        DWORD ignored = 0;
        GetOverlappedResult(handle_, &overlapped, &ignored, TRUE);
    }

    HANDLE handle_;
};

}  // namespace

std::unique_ptr<HidConnection> makeOverlappedConnection(HANDLE handle) {
    return std::make_unique<OverlappedConnection>(handle);
}

}  // namespace velkora::platform::win32
