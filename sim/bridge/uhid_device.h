#pragma once

#include "sim/bridge/hid_endpoint.h"

namespace velkora::sim {

// A kernel HID device 0483:A5B9 made through /dev/uhid, for what a USB gadget cannot show: a
// HID device on the USB bus with no USB device above it, whose listing falls back to the HID
// device's own name (the product string) and unique ID (the serial number); and a device made
// and removed many times a second, far faster than a gadget re-enumerates. It carries the
// adapter's report descriptor; it has no manufacturer string.
class UhidDevice final : public HidEndpoint {
  public:
    // Opens /dev/uhid; fails with a runtime error that names the reason.
    UhidDevice();
    ~UhidDevice() override;
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    void connect(const DeviceStrings& strings) override;
    void disconnect() override;
    bool connected() const override { return created_; }
    void send(std::span<const std::uint8_t> report) override;
    pollfd pollEntry() const override { return {fd_, POLLIN, 0}; }
    EndpointEvents service(short revents) override;

  private:
    int fd_ = -1;
    bool created_ = false;
};

}  // namespace velkora::sim
