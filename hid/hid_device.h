#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/hid_port.h"
#include "platform/services.h"

namespace velkora {

using platform::HidDeviceInfo;

// The product string by which the adapter's application identity, its management interface,
// is told apart. Every other interface with the adapter's IDs is its bootloader.
inline constexpr std::string_view kManagementInterfaceProduct = "Velkora Management Interface";

inline bool isManagementInterface(const HidDeviceInfo& device) {
    return device.product == kManagementInterfaceProduct;
}

// Owns one open HID interface and knows the clock its time-outs run on. close() may be called
// any number of times; the destructor closes too.
class HidHandle {
  public:
    HidHandle() = default;
    HidHandle(std::unique_ptr<platform::HidConnection> connection, platform::Clock& clock)
        : connection_(std::move(connection)), clock_(&clock) {}

    bool valid() const { return connection_ != nullptr; }
    void close() { connection_.reset(); }

    // Only for a valid handle.
    platform::HidConnection& connection() { return *connection_; }
    platform::Clock& clock() { return *clock_; }

    // How many reads so far found the system's queue of input reports full, so that reports
    // may have been dropped. A reader that needs every report of a stream compares the count
    // before and after it.
    std::uint64_t queueOverflows() const { return queueOverflows_; }
    void noteQueueOverflow() { ++queueOverflows_; }

  private:
    std::unique_ptr<platform::HidConnection> connection_;
    platform::Clock* clock_ = nullptr;
    std::uint64_t queueOverflows_ = 0;
};

// A snapshot of every present interface with the adapter's vendor and product ID.
std::vector<HidDeviceInfo> enumerateHidDevices(platform::Services& services);

// Opens an interface for the report exchange; fails with "Unable to open HID device. " and
// the system's error ("Windows error 5").
HidHandle openHidDevice(platform::Services& services, const platform::NativeString& path);

}  // namespace velkora
