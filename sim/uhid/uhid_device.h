#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velkora::sim {

// One kernel HID device made through /dev/uhid, as a Velkora shows itself on USB: bus USB,
// vendor 0x0483, product 0xA5B9, and a vendor-defined report descriptor with one 64-byte input
// and one 64-byte output report and no report ID, the size of its interrupt endpoints. The
// kernel lists it with a hidraw node, the product string as its name and the serial number as
// its unique ID. A uhid device has no USB parent, so there is no manufacturer string.
//
// One file descriptor holds at most one device: destroying it and creating it again is what a
// re-enumeration looks like to the host.
class UhidDevice {
  public:
    // Opens /dev/uhid; fails with a runtime error that names the reason.
    UhidDevice();
    ~UhidDevice();
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    int fd() const { return fd_; }
    bool created() const { return created_; }

    void create(const std::string& product, const std::string& serial);
    void destroy();

    // One input report, as the device's IN endpoint delivers it (64 bytes).
    void sendInput(std::span<const std::uint8_t> report);

    // Takes the next event from the kernel and answers what needs an answer. Returns the
    // bytes of an output report the host wrote, as the host wrote them; nothing for any other
    // event.
    std::optional<std::vector<std::uint8_t>> takeEvent();

  private:
    int fd_ = -1;
    bool created_ = false;
};

}  // namespace velkora::sim
