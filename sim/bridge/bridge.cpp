#include "sim/bridge/bridge.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <span>

#include "sim/bridge/uhid_device.h"
#include "sim/scenario_values.h"
#include "sim/simulated_bus.h"
#include "sim/wire.h"

namespace velkora::sim {
namespace {

// Under Wine: see BridgeOptions.
constexpr std::uint32_t kWineWakeMs = 1000;
constexpr std::uint32_t kWineReplugMs = 5000;
// The longest wait for the host to let go of a device that has left.
constexpr Micros kReleaseBound = fromMs(20000);

// A request the host wrote crosses the bus at the next 1 ms frame boundary.
Micros nextFrame(Micros t) {
    return (t / kMicrosPerMs + 1) * kMicrosPerMs;
}

// Who still holds the hidraw node of a device that has gone ("winedevice.exe 812
// /dev/hidraw1"), or nothing. Wine closes it only once it has carried the device's removal
// through, and until then it cannot take a device that comes back under the same name.
std::string departedNodeHolder() {
    namespace fs = std::filesystem;
    std::error_code error;
    for (const auto& process : fs::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename().string();
        if (pid.empty() || pid[0] < '0' || pid[0] > '9') {
            continue;
        }
        std::error_code unreadable;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", unreadable)) {
            const std::string target = fs::read_symlink(fd.path(), unreadable).string();
            if (target.rfind("/dev/hidraw", 0) == 0 &&
                target.find(" (deleted)") != std::string::npos) {
                std::string holder;
                std::getline(std::ifstream(process.path() / "comm"), holder);
                holder += " " + pid + " ";
                holder += target.substr(0, target.find(' '));
                return holder;
            }
        }
    }
    return {};
}

bool departedNodeHeld() {
    return !departedNodeHolder().empty();
}

std::uint32_t numberFromEnvironment(const char* name, std::uint32_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0'
               ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 10))
               : fallback;
}

// "DATA_CHUNK seq=17 status=0 payload=0" from a report as the adapter sends it; a report
// without its ID has every field one byte earlier.
std::string describeAnswer(const InputReport& report) {
    const std::size_t base = report.length == frame::kBytes ? 0 : 1;
    const auto at = [&](std::size_t index) { return report.bytes[index - base]; };
    return scenario::commandName(at(frame::kCommandAt)) +
           " seq=" + std::to_string(at(frame::kSequenceAt)) +
           " status=" + std::to_string(at(frame::kStatusAt)) +
           " payload=" + std::to_string(at(frame::kAnswerLengthAt));
}

}  // namespace

BridgeOptions bridgeOptionsFromEnvironment() {
    BridgeOptions options;
    const char* trace = std::getenv("VELKORA_BRIDGE_TRACE");
    options.trace = trace != nullptr && std::strcmp(trace, "1") == 0;
    const char* host = std::getenv("VELKORA_BRIDGE_HOST");
    if (host != nullptr && std::strcmp(host, "wine") == 0) {
        options.wakeMs = kWineWakeMs;
        options.replugMs = kWineReplugMs;
        options.manufacturerString = false;
    }
    options.wakeMs = numberFromEnvironment("VELKORA_BRIDGE_WAKE_MS", options.wakeMs);
    return options;
}

Bridge::Bridge(const AdapterProfile& profile, BridgeOptions options)
    : options_(options), adapter_(timeline_, profile) {
    std::size_t ports = 1;
    bool churning = false;
    for (const ExtraInterfaceProfile& extra : profile.extras) {
        if (extra.churnMs > 0) {
            churning = true;
        } else {
            ++ports;
        }
    }
    usb_ = std::make_unique<UsbGadgetBus>(ports);
    if (churning) {
        loadModule("uhid");
    }
    device_ = usb_->makeHidGadget(0);
    std::size_t port = 1;
    for (std::size_t i = 0; i < profile.extras.size(); ++i) {
        const ExtraInterfaceProfile& extra = profile.extras[i];
        Extra made{extra, extraInterfaceInfo(extra, i, profile.identity), nullptr, 0};
        made.endpoint =
            extra.churnMs > 0 ? std::make_unique<UhidDevice>() : usb_->makeHidGadget(port++);
        extras_.push_back(std::move(made));
        timeline_.schedule(fromMs(extra.appearMs), [this, i] { showExtra(i); });
    }
    adapter_.setOutput(
        [this](std::uint64_t presence, const InputReport& report) { output(presence, report); });
    // The updater's first look at the bus is about now: a late adapter's delay starts.
    adapter_.hostStartedListing();
}

Bridge::~Bridge() {
    for (const Extra& extra : extras_) {
        if (extra.profile.churnMs > 0 && extra.appearances > 0) {
            say("extra interface \"" + extra.info.product + "\" came and went " +
                std::to_string(extra.appearances) + " times");
        }
    }
}

void Bridge::run(const sigset_t& waitMask, const volatile std::sig_atomic_t& stop) {
    if (const std::string holder = departedNodeHolder(); options_.replugMs > 0 && !holder.empty()) {
        say("waiting for the host to let go of devices that have gone: " + holder);
        const Micros until = timeline_.now() + kReleaseBound;
        while (departedNodeHeld() && timeline_.now() < until && stop == 0) {
            timeline_.sleepUntil(timeline_.now() + fromMs(500));
        }
        if (const std::string still = departedNodeHolder(); !still.empty()) {
            say("the host still holds a device that has gone: " + still);
        }
    }
    timeline_.runDue();
    follow();
    say("ready: what is present from the start is on the bus");
    while (stop == 0) {
        timeline_.runDue();
        follow();
        wakeIfDue();
        std::vector<pollfd> fds{device_->pollEntry()};
        for (const Extra& extra : extras_) {
            fds.push_back(extra.endpoint->pollEntry());
        }
        Micros wait = fromMs(1000);
        if (const auto deadline = nextDeadline()) {
            const Micros now = timeline_.now();
            wait = std::min(wait, *deadline > now ? *deadline - now : 0);
        }
        const timespec timeout{static_cast<time_t>(wait / 1000000),
                               static_cast<long>(wait % 1000000) * 1000};
        if (ppoll(fds.data(), fds.size(), &timeout, &waitMask) <= 0) {
            continue;  // a signal or the time: the loop decides
        }
        serviceAdapter(fds[0].revents);
        for (std::size_t i = 0; i < extras_.size(); ++i) {
            if (fds[i + 1].revents != 0) {
                extras_[i].endpoint->service(fds[i + 1].revents);  // extras never answer
            }
        }
    }
}

// The next moment the loop has something to do besides waiting for the host.
std::optional<Micros> Bridge::nextDeadline() const {
    std::optional<Micros> next = timeline_.nextEventAt();
    const auto earliest = [&next](Micros at) { next = next ? std::min(*next, at) : at; };
    if (wakeOwed()) {
        earliest(std::max(*wakeFrom_ + fromMs(options_.wakeMs), adapter_.reportsScheduledUntil()));
    }
    if (leftAt_ && shown_ == 0 && adapter_.presentInterface()) {
        earliest(std::max(*leftAt_ + fromMs(options_.replugMs), timeline_.now() + fromMs(500)));
    }
    return next;
}

void Bridge::serviceAdapter(short revents) {
    if (revents == 0) {
        return;
    }
    const EndpointEvents events = device_->service(revents);
    for (std::size_t i = 0; i < events.delivered && !notFetched_.empty(); ++i) {
        trace("host fetched " + notFetched_.front());
        notFetched_.pop_front();
    }
    for (const std::vector<std::uint8_t>& report : events.outputs) {
        request(report);
    }
}

// Makes the bus match the adapter's present appearance: each identity change is a USB
// disconnect and a new connection with the new identity's strings.
void Bridge::follow() {
    const auto present = adapter_.presentInterface();
    const std::uint64_t wanted = present ? present->presence : 0;
    if (wanted == shown_) {
        return;
    }
    if (device_->connected()) {
        if (wakeOwed() && lastCommand_ != command::kFaultDump) {
            sendWake("before the adapter leaves the bus");
        }
        device_->disconnect();
        notFetched_.clear();
        wakeFrom_.reset();
        leftAt_ = timeline_.now();
        shown_ = 0;
        say("adapter left the bus");
    }
    if (!present || (leftAt_ && !hostLetGo())) {
        return;
    }
    device_->connect(stringsOf(present->info));
    shown_ = wanted;
    say("adapter appeared as \"" + present->info.product + "\" serial " + present->info.serial);
}

// Whether the adapter may come back: under Wine once the minimum time off the bus has passed
// and Wine has let go of the device that left (within a bound).
bool Bridge::hostLetGo() const {
    if (options_.replugMs == 0) {
        return true;
    }
    const Micros now = timeline_.now();
    return now >= *leftAt_ + fromMs(options_.replugMs) &&
           (now >= *leftAt_ + kReleaseBound || !departedNodeHeld());
}

void Bridge::output(std::uint64_t presence, const InputReport& report) {
    follow();
    if (presence != shown_ || report.length == 0) {
        return;
    }
    // The IN endpoint carries the report without its ID, which only the host's read adds
    // back on systems that number reports.
    const std::size_t skip = report.length == frame::kBytes ? 1 : 0;
    device_->send(std::span(report.bytes).subspan(skip, report.length - skip));
    const std::size_t base = skip == 1 ? 0 : 1;
    lastCommand_ = report.bytes[frame::kCommandAt - base];
    wakeFrom_ = timeline_.now();
    if (options_.trace) {
        trace("sent " + describeAnswer(report));
        notFetched_.push_back(describeAnswer(report));
    }
}

void Bridge::request(const std::vector<std::uint8_t>& report) {
    if (shown_ == 0) {
        return;
    }
    const WireRequest decoded = decodeRequest(report);
    std::string text = "request " + scenario::commandName(decoded.command) +
                       " seq=" + std::to_string(decoded.sequence);
    if (lastWakeAt_ && wakeFrom_ && *lastWakeAt_ >= *wakeFrom_) {
        // The program went on only once the wake-up report had arrived.
        say(text + ", " + std::to_string((timeline_.now() - *lastWakeAt_) / kMicrosPerMs) +
            " ms after a wake-up report");
    } else {
        trace(text);
    }
    wakeFrom_.reset();
    lastWakeAt_.reset();
    const Micros now = timeline_.now();
    adapter_.receive(shown_, report, adapter_.profile().timing.usbFrames ? nextFrame(now) : now);
}

// Wine's HID class driver (hidclass.sys, in winedevice) keeps each handle's input reports in
// a queue and the program's pending reads in a list. A read first takes a report from the
// queue and, finding none, is put on the list; a report that arrives between those two steps
// finds no read to complete and stays queued, and the read waits until the next report comes
// in, which then completes it with the older one. In a request/answer exchange no next
// report comes and the answer is never read. One report that answers nothing, a second
// after an answer that no request has followed, completes such a read; the program passes
// over it like any report that answers nothing it asked. It is never sent while a fault dump
// is still streaming, whose reads take every report as part of the dump.
void Bridge::wakeIfDue() {
    if (!wakeOwed()) {
        return;
    }
    const Micros now = timeline_.now();
    if (now >= *wakeFrom_ + fromMs(options_.wakeMs) && now >= adapter_.reportsScheduledUntil()) {
        sendWake("after " + std::to_string(options_.wakeMs) + " ms without a request");
    }
}

bool Bridge::wakeOwed() const {
    return options_.wakeMs > 0 && wakeFrom_ && !(lastWakeAt_ && *lastWakeAt_ >= *wakeFrom_);
}

void Bridge::sendWake(const std::string& why) {
    if (!device_->connected()) {
        return;
    }
    InputReport wake = encodeAnswer(WireAnswer{0x00, 0x00, status::kOk, {}});
    device_->send(std::span(wake.bytes).subspan(1));
    lastWakeAt_ = timeline_.now();
    say("wake-up report " + why);
}

void Bridge::showExtra(std::size_t index) {
    Extra& extra = extras_[index];
    extra.endpoint->connect(stringsOf(extra.info));
    ++extra.appearances;
    if (extra.profile.churnMs > 0) {
        say("extra interface \"" + extra.info.product + "\" serial " + extra.info.serial +
            " comes and goes every " + std::to_string(extra.profile.churnMs) + " ms");
        timeline_.schedule(timeline_.now() + fromMs(extra.profile.churnMs),
                           [this, index] { churn(index); });
        return;
    }
    say("extra interface appeared as \"" + extra.info.product + "\" serial " + extra.info.serial);
}

void Bridge::churn(std::size_t index) {
    Extra& extra = extras_[index];
    if (extra.endpoint->connected()) {
        extra.endpoint->disconnect();
    } else {
        extra.endpoint->connect(stringsOf(extra.info));
        ++extra.appearances;
    }
    timeline_.schedule(timeline_.now() + fromMs(extra.profile.churnMs),
                       [this, index] { churn(index); });
}

DeviceStrings Bridge::stringsOf(const platform::HidDeviceInfo& info) const {
    return {options_.manufacturerString ? info.manufacturer : "", info.product, info.serial};
}

double Bridge::nowMs() const {
    return static_cast<double>(timeline_.now()) / static_cast<double>(kMicrosPerMs);
}

void Bridge::say(const std::string& text) const {
    std::fprintf(stderr, "velkora-bridge: %9.1f ms %s\n", nowMs(), text.c_str());
}

void Bridge::trace(const std::string& text) const {
    if (options_.trace) {
        say(text);
    }
}

}  // namespace velkora::sim
