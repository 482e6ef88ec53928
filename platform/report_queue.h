#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "platform/hid_port.h"

namespace velkora::platform {

// The input reports a connection has taken from the system's queue ahead of the program's
// reads, handed over one a read. Taking every queued report at once is also the only way to
// learn of a loss: the system drops a report whenever its queue is full, so a take of a whole
// queue's worth means reports may have been dropped, and the first report of that take says
// so when it is handed over.
class ReportQueue {
  public:
    bool empty() const { return reports_.empty(); }

    void push(std::span<const std::uint8_t> report);

    // After a take of `taken` reports, begun with none in hand, from a system queue that
    // holds `capacity`.
    void noteTake(std::size_t taken, std::size_t capacity);

    // The oldest report, into `buffer` (cut to its size, the rest zeroed); the queue must not
    // be empty.
    HidIoResult handOver(std::span<std::uint8_t> buffer);

  private:
    struct Report {
        std::vector<std::uint8_t> bytes;
        bool afterFullQueue = false;
    };
    std::deque<Report> reports_;
};

}  // namespace velkora::platform
