#include "sim/bridge/uhid_device.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "sim/bridge/system_files.h"

namespace velkora::sim {
namespace {

// Into a zeroed field, so the text stays terminated when it has to be cut short.
void copyText(std::uint8_t* target, std::size_t capacity, const std::string& text) {
    std::copy_n(text.begin(), std::min(text.size(), capacity - 1), target);
}

void writeEvent(int fd, const uhid_event& event) {
    if (::write(fd, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) {
        throw std::runtime_error(withReason("the uhid device was lost (write to /dev/uhid)"));
    }
}

}  // namespace

UhidDevice::UhidDevice() : fd_(::open("/dev/uhid", O_RDWR | O_CLOEXEC)) {
    if (fd_ < 0) {
        throw std::runtime_error(
            withReason("cannot open /dev/uhid (is the uhid module loaded, and are we root?)"));
    }
}

UhidDevice::~UhidDevice() {
    ::close(fd_);  // closing the descriptor destroys its device
}

void UhidDevice::connect(const DeviceStrings& strings) {
    if (created_) {
        return;
    }
    uhid_event event{};
    event.type = UHID_CREATE2;
    uhid_create2_req& request = event.u.create2;
    copyText(request.name, sizeof request.name, strings.product);
    copyText(request.phys, sizeof request.phys, "velkora-bridge");
    copyText(request.uniq, sizeof request.uniq, strings.serial);
    request.rd_size = kAdapterReportDescriptor.size();
    request.bus = 0x03;  // BUS_USB
    request.vendor = kAdapterVendorId;
    request.product = kAdapterProductId;
    request.version = 0x0100;
    std::copy(kAdapterReportDescriptor.begin(), kAdapterReportDescriptor.end(), request.rd_data);
    writeEvent(fd_, event);
    created_ = true;
}

void UhidDevice::disconnect() {
    if (!created_) {
        return;
    }
    // What the host wrote to this device and the bridge has not read yet goes with it, as a
    // device that has left the bus takes nothing more; it must not reach the next appearance.
    pollfd pending{fd_, POLLIN, 0};
    while (poll(&pending, 1, 0) > 0 && (pending.revents & POLLIN) != 0) {
        service(POLLIN);
    }
    uhid_event event{};
    event.type = UHID_DESTROY;
    writeEvent(fd_, event);
    created_ = false;
}

void UhidDevice::send(std::span<const std::uint8_t> report) {
    if (!created_) {
        return;
    }
    uhid_event event{};
    event.type = UHID_INPUT2;
    event.u.input2.size = static_cast<std::uint16_t>(std::min(report.size(), kEndpointBytes));
    std::copy_n(report.begin(), event.u.input2.size, event.u.input2.data);
    writeEvent(fd_, event);
}

// Takes one event from the kernel and answers what needs an answer.
EndpointEvents UhidDevice::service(short revents) {
    EndpointEvents events;
    if ((revents & POLLIN) == 0) {
        return events;
    }
    uhid_event event{};
    if (::read(fd_, &event, sizeof event) <= 0) {
        throw std::runtime_error(withReason("the uhid device was lost (read from /dev/uhid)"));
    }
    switch (event.type) {
        case UHID_OUTPUT:
            // The kernel hands the report over as the host wrote it, report ID first.
            if (event.u.output.rtype == UHID_OUTPUT_REPORT) {
                const auto size = std::min<std::size_t>(event.u.output.size, UHID_DATA_MAX);
                const std::uint8_t* data = &event.u.output.data[0];
                events.outputs.emplace_back(data, data + size);
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
    return events;
}

}  // namespace velkora::sim
