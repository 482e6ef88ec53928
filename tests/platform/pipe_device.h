#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace velkora::testing {

// A manual-reset event that one thread sets and another waits for.
class Signal {
  public:
    Signal() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Signal() { CloseHandle(event_); }
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;
    void set() { SetEvent(event_); }
    bool wait() { return WaitForSingleObject(event_, kPatienceMs) == WAIT_OBJECT_0; }

    // How long either side of a test waits for the other before it gives up, so that a
    // failing test ends instead of hanging.
    static constexpr DWORD kPatienceMs = 10000;

  private:
    HANDLE event_;
};

// A device played by a thread at the far end of a message-mode named pipe, opened overlapped
// on both ends like a HID interface. Each message is one report, so the host side sees report
// boundaries, pending reads and writes, time-outs and cancellation the way it does with HID.
class PipeDevice {
  public:
    // `bufferBytes` is the pipe's buffer in each direction. With 0 a write stays pending until
    // the other end reads, which is how a host write to a busy device can time out.
    explicit PipeDevice(DWORD bufferBytes = 4096);
    ~PipeDevice();
    PipeDevice(const PipeDevice&) = delete;
    PipeDevice& operator=(const PipeDevice&) = delete;

    // The host's end, to be owned by a connection; taken once.
    HANDLE takeHostEnd();

    // Starts the thread that plays the device with the script, and waits for it to end.
    void play(std::function<void(PipeDevice&)> script);
    void finish();

    // For the script: the next report the host wrote (empty when none came in time), sending
    // one report, and leaving the bus the way an unplugged device does.
    std::vector<std::uint8_t> receive();
    void send(const std::vector<std::uint8_t>& report);
    void unplug();

  private:
    HANDLE deviceEnd_ = INVALID_HANDLE_VALUE;
    HANDLE hostEnd_ = INVALID_HANDLE_VALUE;
    std::thread thread_;
};

}  // namespace velkora::testing
