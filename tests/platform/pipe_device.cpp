#include "tests/platform/pipe_device.h"

#include <atomic>
#include <stdexcept>
#include <string>

namespace velkora::testing {
namespace {

std::wstring uniquePipeName() {
    static std::atomic<int> counter{0};
    return L"\\\\.\\pipe\\velkora-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter);
}

// One overlapped operation on the device's end, waited for with the test's patience. The
// operation is settled before its buffer goes away, whichever way it ends.
DWORD transfer(HANDLE pipe, bool write, void* data, DWORD size) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const BOOL done = write ? WriteFile(pipe, data, size, nullptr, &overlapped)
                            : ReadFile(pipe, data, size, nullptr, &overlapped);
    DWORD transferred = 0;
    if (done || GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, Signal::kPatienceMs) != WAIT_OBJECT_0) {
            CancelIo(pipe);
        }
        if (!GetOverlappedResult(pipe, &overlapped, &transferred, TRUE)) {
            transferred = 0;
        }
    }
    CloseHandle(overlapped.hEvent);
    return transferred;
}

}  // namespace

PipeDevice::PipeDevice(DWORD bufferBytes) {
    const std::wstring name = uniquePipeName();
    deviceEnd_ = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                  bufferBytes, bufferBytes, 0, nullptr);
    if (deviceEnd_ == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("CreateNamedPipeW failed");
    }
    hostEnd_ = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (hostEnd_ == INVALID_HANDLE_VALUE ||
        !SetNamedPipeHandleState(hostEnd_, &mode, nullptr, nullptr)) {
        CloseHandle(deviceEnd_);
        throw std::runtime_error("opening the host end of the pipe failed");
    }
}

PipeDevice::~PipeDevice() {
    finish();
    if (deviceEnd_ != INVALID_HANDLE_VALUE) {
        CloseHandle(deviceEnd_);
    }
    if (hostEnd_ != INVALID_HANDLE_VALUE) {
        CloseHandle(hostEnd_);
    }
}

HANDLE PipeDevice::takeHostEnd() {
    HANDLE end = hostEnd_;
    hostEnd_ = INVALID_HANDLE_VALUE;
    return end;
}

void PipeDevice::play(std::function<void(PipeDevice&)> script) {
    thread_ = std::thread([this, script = std::move(script)] { script(*this); });
}

void PipeDevice::finish() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::vector<std::uint8_t> PipeDevice::receive() {
    std::vector<std::uint8_t> report(256);
    report.resize(transfer(deviceEnd_, false, report.data(), static_cast<DWORD>(report.size())));
    return report;
}

void PipeDevice::send(const std::vector<std::uint8_t>& report) {
    std::vector<std::uint8_t> copy = report;
    transfer(deviceEnd_, true, copy.data(), static_cast<DWORD>(copy.size()));
}

void PipeDevice::unplug() {
    CloseHandle(deviceEnd_);
    deviceEnd_ = INVALID_HANDLE_VALUE;
}

}  // namespace velkora::testing
