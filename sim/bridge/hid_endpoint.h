#pragma once

#include <poll.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velkora::sim {

inline constexpr std::uint16_t kAdapterVendorId = 0x0483;
inline constexpr std::uint16_t kAdapterProductId = 0xA5B9;
// The adapter's interrupt endpoints carry 64 bytes each way, without a report ID.
inline constexpr std::size_t kEndpointBytes = 64;

// Vendor-defined page 0xFF00, one application collection: 64 input bytes, 64 output bytes.
inline constexpr std::array<std::uint8_t, 27> kAdapterReportDescriptor{
    0x06, 0x00, 0xFF,  // Usage Page (0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x40,        //   Report Count (64)
    0x09, 0x01,        //   Usage (1)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0x95, 0x40,        //   Report Count (64)
    0x09, 0x01,        //   Usage (1)
    0x91, 0x02,        //   Output (Data, Variable, Absolute)
    0xC0,              // End Collection
};

// The three strings a USB device names itself with; an empty one is left out.
struct DeviceStrings {
    std::string manufacturer;
    std::string product;
    std::string serial;
};

// What one look at an endpoint found.
struct EndpointEvents {
    // Output reports the host wrote, each as the host's write began: the report ID 0, then
    // the 64 bytes of the report.
    std::vector<std::vector<std::uint8_t>> outputs;
    // Input reports that the host has taken off the bus since the last look.
    std::size_t delivered = 0;
};

// One HID device of vendor 0483, product A5B9 as the guest's kernel meets it, which the bridge
// plugs in, feeds with input reports and unplugs.
class HidEndpoint {
  public:
    virtual ~HidEndpoint() = default;

    // Comes onto the bus with these strings; the host enumerates it afresh. A USB device is
    // connected once the host has enumerated it.
    virtual void connect(const DeviceStrings& strings) = 0;
    // Leaves the bus. Input reports already sent reach the host first, within a bound.
    virtual void disconnect() = 0;
    virtual bool connected() const = 0;

    // Sends one input report of up to 64 bytes; reports leave in order.
    virtual void send(std::span<const std::uint8_t> report) = 0;

    // The descriptor to wait on and the events of interest, fd -1 when there is none.
    virtual pollfd pollEntry() const = 0;
    // Handles what a wait reported for this endpoint's descriptor.
    virtual EndpointEvents service(short revents) = 0;
};

}  // namespace velkora::sim
