#pragma once

#include <csignal>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/hid_port.h"
#include "sim/adapter_profile.h"
#include "sim/bridge/hid_endpoint.h"
#include "sim/bridge/usb_gadget.h"
#include "sim/simulated_adapter.h"
#include "sim/timeline.h"

namespace velkora::sim {

// How the bridge meets the host it serves.
struct BridgeOptions {
    // Every request and report on the error stream, with its time.
    bool trace = false;
    // After an answer and this long without a new request, one report that answers nothing;
    // 0: never. Wine's HID class driver can leave a report in its queue while the program's
    // read waits: only the next report completes that read. See bridge.cpp.
    std::uint32_t wakeMs = 0;
    // When not 0: the least time the adapter stays off the bus between two appearances, and
    // it comes back only once the host has let go of the device that left (see bridge.cpp).
    // Wine, emulated, takes seconds to carry a removal through, and a device back before
    // that is listed but cannot be opened.
    std::uint32_t replugMs = 0;
    // Whether USB devices carry their manufacturer string. Wine names a USB HID device after
    // the kernel's HID name, which joins the manufacturer and product strings.
    bool manufacturerString = true;
};

// Reads VELKORA_BRIDGE_TRACE=1, VELKORA_BRIDGE_HOST=wine and VELKORA_BRIDGE_WAKE_MS=N.
BridgeOptions bridgeOptionsFromEnvironment();

// The simulated Velkora of a scenario, served in real time to the guest kernel's host side:
// the adapter as a USB HID gadget that re-enumerates at each identity change, each extra
// interface of the scenario as a gadget on a port of its own, or, when it churns, as a uhid
// device (a USB gadget cannot come and go that fast).
class Bridge {
  public:
    Bridge(const AdapterProfile& profile, BridgeOptions options);
    ~Bridge();
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Serves until `stop` is set; stop signals are let through only while waiting.
    void run(const sigset_t& waitMask, const volatile std::sig_atomic_t& stop);

  private:
    struct Extra {
        ExtraInterfaceProfile profile;
        platform::HidDeviceInfo info;
        std::unique_ptr<HidEndpoint> endpoint;
        std::uint64_t appearances = 0;
    };

    void follow();
    bool hostLetGo() const;
    void output(std::uint64_t presence, const InputReport& report);
    void request(const std::vector<std::uint8_t>& report);
    void serviceAdapter(short revents);
    void showExtra(std::size_t index);
    void churn(std::size_t index);
    void wakeIfDue();
    bool wakeOwed() const;
    void sendWake(const std::string& why);
    std::optional<Micros> nextDeadline() const;
    DeviceStrings stringsOf(const platform::HidDeviceInfo& info) const;
    double nowMs() const;
    void say(const std::string& text) const;
    void trace(const std::string& text) const;

    BridgeOptions options_;
    Timeline timeline_{Timeline::Mode::RealTime};
    SimulatedAdapter adapter_;
    std::unique_ptr<UsbGadgetBus> usb_;  // before the endpoints: it outlives them
    std::unique_ptr<HidEndpoint> device_;
    std::vector<Extra> extras_;
    std::uint64_t shown_ = 0;             // the adapter appearance on the bus; 0: none
    std::optional<Micros> leftAt_;        // when the adapter last left the bus
    std::optional<Micros> wakeFrom_;      // an answer not followed by a request, sent then
    std::optional<Micros> lastWakeAt_;    // the last wake-up report
    std::uint8_t lastCommand_ = 0;        // of the last report sent to the host
    std::deque<std::string> notFetched_;  // traced reports the host has not fetched yet
};

}  // namespace velkora::sim
