#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/native_string.h"

namespace velkora::platform {

// The adapter's USB vendor and product ID, the same in both its identities.
inline constexpr std::uint16_t kAdapterVendorId = 0x0483;
inline constexpr std::uint16_t kAdapterProductId = 0xA5B9;

// One present HID interface with the adapter's vendor and product ID.
struct HidDeviceInfo {
    NativeString path;         // the system's device path, unchanged; what open() takes
    std::string manufacturer;  // USB strings as UTF-8; empty when they cannot be read
    std::string product;
    std::string serial;
};

// How one report write or read ended. The messages the user reads are built above the seam
// from these facts, so every platform reports transport failures in the same words.
struct HidIoResult {
    enum class Status {
        Completed,    // the operation finished; `bytes` says how many bytes moved
        TimedOut,     // nothing finished within the time-out; the operation was cancelled
        EventFailed,  // the wait object for the operation could not be created
        WaitFailed,   // waiting for the operation failed (reads only)
        Failed,       // the system refused or aborted the operation
    };
    Status status = Status::Failed;
    std::uint32_t bytes = 0;
    std::string errorDetail;  // for WaitFailed and Failed: "Windows error 31", "errno 5", ...

    // Reads only: the system's queue of input reports for this connection was found full when
    // this report was taken, so reports may have been dropped close to it (before it, or
    // right after the ones taken with it). A platform that cannot tell never sets it.
    bool reportsLost = false;
};

// One open HID interface. Destroying it closes the interface. A write or read that timed out
// has been cancelled and finished before the call returns: the caller's buffer is free again.
// A read hands over one report; a connection may take several from the system at once and
// keep the rest for the reads that follow, in their order.
class HidConnection {
  public:
    virtual ~HidConnection() = default;
    virtual HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t timeoutMs) = 0;
    virtual HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) = 0;
};

struct HidOpenResult {
    std::unique_ptr<HidConnection> connection;  // null when the open failed
    std::string errorDetail;                    // then: "Windows error 5", "errno 13 (...)"
};

// The HID bus as far as the adapter is concerned.
class HidPort {
  public:
    virtual ~HidPort() = default;

    // Every present interface with the adapter's vendor and product ID, in the order the
    // system lists them. Fails with a runtime error only when the list cannot be obtained.
    virtual std::vector<HidDeviceInfo> enumerate() = 0;

    // Opens an interface for overlapped reading and writing, shared with other openers.
    virtual HidOpenResult open(const NativeString& path) = 0;
};

// The system's HID bus.
HidPort& systemHidPort();

}  // namespace velkora::platform
