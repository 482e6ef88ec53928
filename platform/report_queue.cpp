#include "platform/report_queue.h"

#include <algorithm>
#include <utility>

namespace velkora::platform {

void ReportQueue::push(std::span<const std::uint8_t> report) {
    reports_.push_back({{report.begin(), report.end()}, false});
}

void ReportQueue::noteTake(std::size_t taken, std::size_t capacity) {
    if (taken != 0 && taken >= capacity && !reports_.empty()) {
        reports_[reports_.size() - taken].afterFullQueue = true;
    }
}

HidIoResult ReportQueue::handOver(std::span<std::uint8_t> buffer) {
    Report report = std::move(reports_.front());
    reports_.pop_front();
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
    const std::size_t count = std::min(report.bytes.size(), buffer.size());
    std::copy_n(report.bytes.begin(), count, buffer.begin());
    HidIoResult result{HidIoResult::Status::Completed, static_cast<std::uint32_t>(count), {}};
    result.reportsLost = report.afterFullQueue;
    return result;
}

}  // namespace velkora::platform
