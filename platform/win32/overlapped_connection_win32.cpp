#include "platform/win32/overlapped_connection.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/report_queue.h"

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
    OverlappedConnection(HANDLE handle, std::size_t reportBytes, std::size_t queuedReports)
        : handle_(handle),
          reportBytes_(reportBytes),
          queuedReports_(queuedReports),
          readBuffer_(reportBytes * std::max<std::size_t>(queuedReports, 1)) {}
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
        if (queue_.empty()) {
            HidIoResult ended = takeFromSystem(buffer.size(), timeoutMs);
            if (queue_.empty()) {
                return ended;
            }
        }
        return queue_.handOver(buffer);
    }

  private:
    // Takes every report the system holds for the handle, or waits up to the time-out for the
    // next one. One read may hand over several queued reports (its buffer has room for all
    // the system keeps; Wine's HID class driver hands over one), and the reads go on while
    // they complete at once, so the system's queue is emptied as far as the program's pace
    // allows. When all the reports it can hold came out at once, the queue was full, and the
    // system drops a report whenever it is: the first report taken carries that news. Reports
    // in hand end the take at the first read that would have to wait; it is cancelled, and
    // whatever it collected meanwhile is kept.
    HidIoResult takeFromSystem(std::size_t callerBytes, std::uint32_t timeoutMs) {
        std::size_t taken = 0;
        HidIoResult ended{Status::Completed, 0, {}};
        for (;;) {
            OperationEvent event;
            if (!event.valid()) {
                ended = {Status::EventFailed, 0, {}};
                break;
            }
            if (reportBytes_ == 0) {
                oneReport_.assign(callerBytes, 0);
            }
            const std::span<std::uint8_t> into(reportBytes_ != 0 ? readBuffer_ : oneReport_);
            OVERLAPPED overlapped{};
            overlapped.hEvent = event.get();
            if (ReadFile(handle_, into.data(), static_cast<DWORD>(into.size()), nullptr,
                         &overlapped)) {
                ended = collect(overlapped);
                if (ended.status != Status::Completed) {
                    break;
                }
                taken += keep(into, ended.bytes);
                continue;
            }
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                ended = {Status::Failed, 0, windowsError(error)};
                break;
            }
            if (taken > 0) {
                ended = cancelAndSettle(overlapped, {Status::TimedOut, 0, {}});
            } else {
                const DWORD wait = WaitForSingleObject(event.get(), timeoutMs);
                if (wait == WAIT_FAILED) {
                    const DWORD waitError = GetLastError();
                    ended = cancelAndSettle(overlapped,
                                            {Status::WaitFailed, 0, windowsError(waitError)});
                } else if (wait != WAIT_OBJECT_0) {
                    ended = cancelAndSettle(overlapped, {Status::TimedOut, 0, {}});
                } else {
                    ended = collect(overlapped);
                }
            }
            if (ended.status == Status::Completed) {
                taken += keep(into, ended.bytes);
            }
            break;
        }
        queue_.noteTake(taken, queuedReports_);
        return ended;
    }

    // Splits what one read returned into its reports and keeps them; returns how many. A read
    // no longer than one report is one report, whatever its length.
    std::size_t keep(std::span<const std::uint8_t> from, DWORD bytes) {
        const auto total = static_cast<std::ptrdiff_t>(std::min<std::size_t>(bytes, from.size()));
        const auto step = static_cast<std::ptrdiff_t>(reportBytes_);
        if (step == 0 || total <= step) {
            queue_.push(from.first(static_cast<std::size_t>(total)));
            return 1;
        }
        std::size_t count = 0;
        for (std::ptrdiff_t offset = 0; offset < total; offset += step, ++count) {
            const std::ptrdiff_t end = std::min(offset + step, total);
            queue_.push(from.subspan(static_cast<std::size_t>(offset),
                                     static_cast<std::size_t>(end - offset)));
        }
        return count;
    }

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
    // operation has really finished: wait for it before they go away. An operation can finish
    // between the end of the wait and the cancel; its data has then moved all the same, so it
    // is reported as done rather than as `abandoned`. Otherwise a report read in that instant
    // would be lost, and a report the device did receive would be reported as not sent.
    HidIoResult cancelAndSettle(OVERLAPPED& overlapped, HidIoResult abandoned) {
        CancelIo(handle_);
        DWORD transferred = 0;
        if (GetOverlappedResult(handle_, &overlapped, &transferred, TRUE)) {
            return {Status::Completed, transferred, {}};
        }
        return abandoned;
    }

    HANDLE handle_;
    std::size_t reportBytes_;
    std::size_t queuedReports_;
    std::vector<std::uint8_t> readBuffer_;  // room for every report the system holds
    std::vector<std::uint8_t> oneReport_;   // one read's room when the report length is unknown
    ReportQueue queue_;                     // taken from the system, not yet handed over
};

}  // namespace

std::unique_ptr<HidConnection> makeOverlappedConnection(HANDLE handle, std::size_t reportBytes,
                                                        std::size_t queuedReports) {
    return std::make_unique<OverlappedConnection>(handle, reportBytes, queuedReports);
}

}  // namespace velkora::platform::win32
