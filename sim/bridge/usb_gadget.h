#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/bridge/hid_endpoint.h"

namespace velkora::sim {

// Loads a kernel module unless it is loaded already (modprobe is slow under emulation).
void loadModule(const std::string& name);

// The guest kernel made ready for USB gadgets: libcomposite and the HID function, configfs
// mounted, and dummy_hcd with at least the number of device controllers (UDCs) asked for.
// Each UDC is a USB port of its own: a gadget bound to it is enumerated by the kernel's host
// side (usbhid) like a device plugged into a real port, at high speed. Destroying it unmounts
// configfs when it mounted it; the modules stay loaded.
class UsbGadgetBus {
  public:
    explicit UsbGadgetBus(std::size_t ports);
    ~UsbGadgetBus();
    UsbGadgetBus(const UsbGadgetBus&) = delete;
    UsbGadgetBus& operator=(const UsbGadgetBus&) = delete;

    // A HID gadget on the port with this index (from 0), not yet plugged in.
    std::unique_ptr<HidEndpoint> makeHidGadget(std::size_t port);

  private:
    std::vector<std::string> udcs_;
    bool mountedConfigfs_ = false;
};

// Folders and links made in configfs, removed in reverse order when it is destroyed, so that
// a gadget that could only be made in part leaves nothing behind either.
class ConfigfsEntries {
  public:
    ConfigfsEntries() = default;
    ~ConfigfsEntries();
    ConfigfsEntries(const ConfigfsEntries&) = delete;
    ConfigfsEntries& operator=(const ConfigfsEntries&) = delete;

    void makeFolder(const std::filesystem::path& folder);
    void makeLink(const std::filesystem::path& target, const std::filesystem::path& link);

  private:
    std::vector<std::filesystem::path> made_;
};

// A USB HID gadget 0483:A5B9 made through configfs: one interface with the adapter's report
// descriptor, an interrupt IN and an interrupt OUT endpoint of 64 bytes (at high speed the
// function declares a 1 ms interval), served through its /dev/hidgN node.
//
// The node takes one input report at a time: a write waits while the one before it has not
// been fetched by the host. The node is opened non-blocking, reports queue here and go out as
// the host takes them, so the bridge never stalls on a host that is slow to read. Plugging out
// (unbinding from the UDC) first lets the reports already sent reach the host, for at most a
// second, and the host hand the last of them on to its readers: a real adapter's last answer
// is on the host before the adapter detaches.
class UsbHidGadget final : public HidEndpoint {
  public:
    UsbHidGadget(const std::string& name, std::string udc);
    ~UsbHidGadget() override;
    UsbHidGadget(const UsbHidGadget&) = delete;
    UsbHidGadget& operator=(const UsbHidGadget&) = delete;

    void connect(const DeviceStrings& strings) override;
    void disconnect() override;
    bool connected() const override { return fd_ >= 0; }
    void send(std::span<const std::uint8_t> report) override;
    pollfd pollEntry() const override;
    EndpointEvents service(short revents) override;

  private:
    using Packet = std::array<std::uint8_t, kEndpointBytes>;

    void writeQueued();
    void letSentReportsArrive();

    ConfigfsEntries entries_;  // first: removed last, after everything that uses them
    std::filesystem::path root_;
    std::filesystem::path function_;
    std::string udc_;
    std::filesystem::path node_;
    int fd_ = -1;
    std::deque<Packet> queued_;
    bool inFlight_ = false;  // a report written to the node that the host has not fetched yet
    std::chrono::steady_clock::time_point lastFetched_;  // when the host fetched the last one
};

}  // namespace velkora::sim
