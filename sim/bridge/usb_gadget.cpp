#include "sim/bridge/usb_gadget.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "sim/bridge/system_files.h"

namespace velkora::sim {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const fs::path kConfigfs = "/sys/kernel/config";
const fs::path kGadgets = "/sys/kernel/config/usb_gadget";

// How long leaving the bus waits for the host to fetch reports already sent.
constexpr auto kArrivalBound = std::chrono::milliseconds(1000);
// The device side sees a report fetched a moment before the host side has handed it on to
// its readers; a disconnect in between would lose it on the host.
constexpr auto kHandOnTime = std::chrono::milliseconds(100);
// How long a gadget's node may take to appear once it is bound.
constexpr auto kNodeBound = std::chrono::milliseconds(2000);
// How long the host may take to enumerate a gadget, up to its hidraw node.
constexpr auto kEnumerationBound = std::chrono::milliseconds(10000);

// dummy_hcd makes this many ports when nobody asks for more: the adapter and a few extras.
constexpr std::size_t kDefaultPorts = 4;

std::vector<std::string> dummyUdcs() {
    std::vector<std::pair<int, std::string>> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/sys/class/udc", error)) {
        const std::string name = entry.path().filename().string();
        const std::string prefix = "dummy_udc.";
        if (name.rfind(prefix, 0) == 0) {
            found.emplace_back(std::stoi(name.substr(prefix.size())), name);
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> names;
    names.reserve(found.size());
    for (auto& [number, name] : found) {
        names.push_back(std::move(name));
    }
    return names;
}

// The host's hidraw node of the device on the port of this UDC, once the host has enumerated
// it: dummy_hcd's port K (host side "dummy_hcd.K", the serial number of its root hub) is the
// device side "dummy_udc.K", and the device is the one port of that root hub.
bool hostHasNode(const std::string& udc) {
    const std::string host = "dummy_hcd" + udc.substr(udc.find('.'));
    std::error_code error;
    for (const auto& hub : fs::directory_iterator("/sys/bus/usb/devices", error)) {
        const std::string name = hub.path().filename().string();
        std::string serial;
        std::getline(std::ifstream(hub.path() / "serial"), serial);
        if (name.rfind("usb", 0) != 0 || serial != host) {
            continue;
        }
        const fs::path interface = hub.path().parent_path() / (name.substr(3) + "-1:1.0");
        for (const auto& hid : fs::directory_iterator(interface, error)) {
            if (fs::exists(hid.path() / "hidraw", error) &&
                !fs::is_empty(hid.path() / "hidraw", error)) {
                return true;
            }
        }
    }
    return false;
}

// A string descriptor written as configfs takes it; the kernel drops the line feed, and an
// empty string makes the host find no such string at all.
void writeString(const fs::path& path, const std::string& text) {
    writeAttribute(path, text + "\n");
}

}  // namespace

void loadModule(const std::string& name) {
    if (!fs::exists("/sys/module/" + name)) {
        runProgram({"modprobe", name});
    }
}

UsbGadgetBus::UsbGadgetBus(std::size_t ports) {
    // The device side, and the host side: the USB HID driver and the generic HID driver that
    // gives hidraw nodes.
    for (const char* module : {"libcomposite", "usb_f_hid", "usbhid", "hid_generic"}) {
        loadModule(module);
    }
    udcs_ = dummyUdcs();
    if (udcs_.size() < ports) {
        // Its number of ports is fixed when it loads.
        if (fs::exists("/sys/module/dummy_hcd")) {
            runProgram({"modprobe", "-r", "dummy_hcd"});
        }
        runProgram(
            {"modprobe", "dummy_hcd", "num=" + std::to_string(std::max(ports, kDefaultPorts))});
        udcs_ = dummyUdcs();
        if (udcs_.size() < ports) {
            throw std::runtime_error("dummy_hcd gives " + std::to_string(udcs_.size()) +
                                     " USB device controllers, " + std::to_string(ports) +
                                     " are needed");
        }
    }
    if (!fs::exists(kGadgets)) {
        if (::mount("none", kConfigfs.c_str(), "configfs", 0, nullptr) != 0) {
            throw std::runtime_error(withReason("cannot mount configfs on " + kConfigfs.string()));
        }
        mountedConfigfs_ = true;
    }
}

UsbGadgetBus::~UsbGadgetBus() {
    if (mountedConfigfs_ && ::umount(kConfigfs.c_str()) != 0) {
        std::perror("velkora-bridge: cannot unmount configfs");
    }
}

std::unique_ptr<HidEndpoint> UsbGadgetBus::makeHidGadget(std::size_t port) {
    const std::string name = "velkora-" + std::to_string(::getpid()) + "-" + std::to_string(port);
    return std::make_unique<UsbHidGadget>(name, udcs_.at(port));
}

ConfigfsEntries::~ConfigfsEntries() {
    for (auto entry = made_.rbegin(); entry != made_.rend(); ++entry) {
        std::error_code error;
        if (!fs::remove(*entry, error)) {
            std::fprintf(stderr, "velkora-bridge: cannot remove %s: %s\n", entry->c_str(),
                         error.message().c_str());
        }
    }
}

void ConfigfsEntries::makeFolder(const fs::path& folder) {
    std::error_code error;
    if (!fs::create_directory(folder, error)) {
        throw std::runtime_error("cannot make " + folder.string() + ": " +
                                 (error ? error.message() : "it exists already"));
    }
    made_.push_back(folder);
}

void ConfigfsEntries::makeLink(const fs::path& target, const fs::path& link) {
    std::error_code error;
    fs::create_directory_symlink(target, link, error);
    if (error) {
        throw std::runtime_error("cannot link " + link.string() + ": " + error.message());
    }
    made_.push_back(link);
}

UsbHidGadget::UsbHidGadget(const std::string& name, std::string udc)
    : root_(kGadgets / name), function_(root_ / "functions/hid.adapter"), udc_(std::move(udc)) {
    entries_.makeFolder(root_);
    writeAttribute(root_ / "idVendor", "0x0483");
    writeAttribute(root_ / "idProduct", "0xa5b9");
    writeAttribute(root_ / "bcdDevice", "0x0100");
    writeAttribute(root_ / "bcdUSB", "0x0200");
    entries_.makeFolder(root_ / "strings/0x409");

    entries_.makeFolder(function_);
    writeAttribute(function_ / "protocol", "0");
    writeAttribute(function_ / "subclass", "0");
    writeAttribute(function_ / "report_length", std::to_string(kEndpointBytes));
    writeAttribute(function_ / "report_desc",
                   std::string_view(reinterpret_cast<const char*>(kAdapterReportDescriptor.data()),
                                    kAdapterReportDescriptor.size()));

    const fs::path configuration = root_ / "configs/c.1";
    entries_.makeFolder(configuration);
    writeAttribute(configuration / "MaxPower", "100");
    entries_.makeLink(function_, configuration / "hid.adapter");

    // "major:minor"; the node is /dev/hidg<minor>.
    const std::string device = readAttribute(function_ / "dev");
    node_ = "/dev/hidg" + device.substr(device.find(':') + 1);
}

UsbHidGadget::~UsbHidGadget() {
    try {
        disconnect();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velkora-bridge: %s\n", error.what());
    }
}

void UsbHidGadget::connect(const DeviceStrings& strings) {
    if (connected()) {
        return;
    }
    writeString(root_ / "strings/0x409/manufacturer", strings.manufacturer);
    writeString(root_ / "strings/0x409/product", strings.product);
    writeString(root_ / "strings/0x409/serialnumber", strings.serial);
    writeAttribute(root_ / "UDC", udc_);
    const auto deadline = Clock::now() + kNodeBound;
    while ((fd_ = ::open(node_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) < 0) {
        if (errno != ENOENT || Clock::now() >= deadline) {
            const std::string reason = withReason("cannot open " + node_.string());
            writeAttribute(root_ / "UDC", "\n");
            throw std::runtime_error(reason);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Connected means on the host's bus: a program started now lists it.
    const auto enumerated = Clock::now() + kEnumerationBound;
    while (!hostHasNode(udc_)) {
        if (Clock::now() >= enumerated) {
            throw std::runtime_error("the host did not enumerate the gadget on " + udc_);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void UsbHidGadget::disconnect() {
    if (!connected()) {
        return;
    }
    letSentReportsArrive();
    ::close(fd_);
    fd_ = -1;
    queued_.clear();
    inFlight_ = false;
    writeAttribute(root_ / "UDC", "\n");
}

void UsbHidGadget::send(std::span<const std::uint8_t> report) {
    if (!connected()) {
        return;
    }
    Packet packet{};
    std::copy_n(report.begin(), std::min(report.size(), packet.size()), packet.begin());
    queued_.push_back(packet);
    writeQueued();
}

// Hands the next queued report to the node unless one is still on its way. A report the node
// refuses for another reason than being busy (the host has not configured the device, or has
// just dropped it) is lost, as it would be on the wire.
void UsbHidGadget::writeQueued() {
    while (!inFlight_ && !queued_.empty()) {
        if (::write(fd_, queued_.front().data(), kEndpointBytes) >= 0) {
            inFlight_ = true;
        } else if (errno == EAGAIN) {
            inFlight_ = true;
            return;
        } else if (errno == EINTR) {
            continue;
        } else {
            std::perror("velkora-bridge: an input report was lost");
        }
        queued_.pop_front();
    }
}

void UsbHidGadget::letSentReportsArrive() {
    const auto deadline = Clock::now() + kArrivalBound;
    while (inFlight_ || !queued_.empty()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            std::fprintf(stderr,
                         "velkora-bridge: the host did not fetch %zu report(s) before the "
                         "adapter left\n",
                         queued_.size() + (inFlight_ ? 1 : 0));
            return;
        }
        pollfd entry{fd_, POLLOUT, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) > 0 &&
            (entry.revents & POLLOUT) != 0) {
            inFlight_ = false;
            lastFetched_ = Clock::now();
            writeQueued();
        }
    }
    std::this_thread::sleep_until(lastFetched_ + kHandOnTime);
}

pollfd UsbHidGadget::pollEntry() const {
    if (!connected()) {
        return {-1, 0, 0};
    }
    const bool waiting = inFlight_ || !queued_.empty();
    return {fd_, static_cast<short>(POLLIN | (waiting ? POLLOUT : 0)), 0};
}

EndpointEvents UsbHidGadget::service(short revents) {
    EndpointEvents events;
    if (!connected()) {
        return events;
    }
    if ((revents & POLLOUT) != 0 && inFlight_) {
        inFlight_ = false;
        lastFetched_ = Clock::now();
        ++events.delivered;
        writeQueued();
    }
    if ((revents & POLLIN) != 0) {
        std::vector<std::uint8_t> report(kEndpointBytes + 1, 0);
        ssize_t count = 0;
        while ((count = ::read(fd_, report.data() + 1, kEndpointBytes)) > 0) {
            report.resize(static_cast<std::size_t>(count) + 1);
            events.outputs.push_back(report);
            report.assign(kEndpointBytes + 1, 0);
        }
    }
    return events;
}

}  // namespace velkora::sim
