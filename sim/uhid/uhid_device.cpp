#include "sim/uhid/uhid_device.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace velkora::sim {
namespace {

constexpr std::uint32_t kVendorId = 0x0483;
constexpr std::uint32_t kProductId = 0xA5B9;
constexpr std::size_t kEndpointSize = 64;

// Vendor-defined page 0xFF00, one application collection: 64 input bytes, 64 output bytes.
constexpr std::array<std::uint8_t, 27> kReportDescriptor{
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

std::runtime_error uhidError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// Into a zeroed field, so the text stays terminated when it has to be cut short.
void copyText(std::uint8_t* target, std::size_t capacity, const std::string& text) {
    std::copy_n(text.begin(), std::min(text.size(), capacity - 1), target);
}

void writeEvent(int fd, const uhid_event& event) {
    if (::write(fd, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
        throw uhidError("the uhid device was lost (write to /dev/uhid failed)");
    }
}

}  // namespace

UhidDevice::UhidDevice() : fd_(::open("/dev/uhid", O_RDWR | O_CLOEXEC)) {
    if (fd_ < 0) {
        throw uhidError("cannot open /dev/uhid (is the uhid module loaded, and are we root?)");
    }
}

UhidDevice::~UhidDevice() {
    ::close(fd_);  // closing the descriptor destroys its device
}

void UhidDevice::create(const std::string& product, const std::string& serial) {
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& request = event.u.create2;
    copyText(request.name, sizeof request.name, product);
    copyText(request.phys, sizeof request.phys, "velkora-uhid-bridge");
    copyText(request.uniq, sizeof request.uniq, serial);
    request.rd_size = kReportDescriptor.size();
    request.bus = 0x03;  // BUS_USB
    request.vendor = kVendorId;
    request.product = kProductId;
    request.version = 0x0100;
    std::copy(kReportDescriptor.begin(), kReportDescriptor.end(), request.rd_data);
    writeEvent(fd_, event);
    created_ = true;
}

void UhidDevice::destroy() {
    if (!created_) {
        return;
    }
    // What the host wrote to this device and the bridge has not read yet goes with it, as a
    // device that has left the bus takes nothing more; it must not reach the next appearance.
    pollfd pending{fd_, POLLIN, 0};
    while (poll(&pending, 1, 0) > 0 && (pending.revents & POLLIN) != 0) {
        takeEvent();
    }
    uhid_event event{};
    event.type = UHID_DESTROY;
    writeEvent(fd_, event);
    created_ = false;
}

void UhidDevice::sendInput(std::span<const std::uint8_t> report) {
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<std::uint16_t>(std::min(report.size(), kEndpointSize));
    std::copy_n(report.begin(), event.u.input2.size, event.u.input2.data);
    writeEvent(fd_, event);
}

std::optional<std::vector<std::uint8_t>> UhidDevice::takeEvent() {
    uhid_event event{};
    if (::read(fd_, &event, sizeof event) <= 0) {
        throw uhidError("the uhid device was lost (read from /dev/uhid failed)");
    }
    switch (event.type) {
        case UHID_OUTPUT:
            if (event.u.output.rtype == UHID_OUTPUT_REPORT) {
                const auto size = std::min<std::size_t>(event.u.output.size, UHID_DATA_MAX);
                return std::vector<std::uint8_t>(event.u.output.data, event.u.output.data + size);
            }
            break;
        // The adapter has no feature reports; the kernel waits for an answer, so refuse.
        case UHID_GET_REPORT: {
            uhid_event reply{};
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = event.u.get_report.id;
            reply.u.get_report_reply.err = EIO;
            writeEvent(fd_, reply);
            break;
        }
        case UHID_SET_REPORT: {
            uhid_event reply{};
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = event.u.set_report.id;
            reply.u.set_report_reply.err = EIO;
            writeEvent(fd_, reply);
            break;
        }
        default:
            break;
    }
    return std::nullopt;
}

}  // namespace velkora::sim
