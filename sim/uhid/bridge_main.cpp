#include <poll.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "sim/scenario_reader.h"
#include "sim/simulated_adapter.h"
#include "sim/simulated_bus.h"
#include "sim/timeline.h"
#include "sim/uhid/uhid_device.h"

// velkora-uhid-bridge SCENARIO
//
// Serves the simulated Velkora of a scenario file as kernel HID devices through /dev/uhid, in
// real time, until SIGTERM, SIGINT or SIGHUP: the adapter in whichever identity it shows, and
// each extra interface of the scenario as a device of its own. Every identity change of the
// adapter (the hand-over to its management interface, its return to the bootloader, the
// restart after an install, an unplug) destroys its device and creates it again with the new
// identity's strings, as a real adapter re-enumerates on USB. One line on the error stream
// tells each change. A scenario's plug_in_ms and appear_ms count from the bridge's start. Exit
// status 0 after a signal, 1 when the scenario cannot be read or the uhid device is lost.

namespace {

using velkora::sim::Micros;

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

class Bridge {
  public:
    explicit Bridge(const velkora::sim::AdapterProfile& profile)
        : adapter_(timeline_, profile), extraProfiles_(profile.extras) {
        adapter_.setOutput([this](std::uint64_t presence, const velkora::sim::InputReport& report) {
            follow();
            if (presence == shown_ && report.length > 0) {
                // The IN endpoint carries the report without its ID, which only the host's
                // read adds back on systems that number reports.
                const std::size_t skip = report.length == velkora::sim::frame::kBytes ? 1 : 0;
                device_.sendInput(std::span(report.bytes).subspan(skip, report.length - skip));
            }
        });
        for (std::size_t i = 0; i < extraProfiles_.size(); ++i) {
            extras_.push_back(std::make_unique<velkora::sim::UhidDevice>());
            timeline_.schedule(velkora::sim::fromMs(extraProfiles_[i].appearMs),
                               [this, i] { showExtra(i); });
        }
        // The updater's first look at the bus is about now: a late adapter's delay starts.
        adapter_.hostStartedListing();
    }

    void run(const sigset_t& waitMask) {
        while (stopRequested == 0) {
            timeline_.runDue();
            follow();
            std::vector<pollfd> fds{{device_.fd(), POLLIN, 0}};
            for (const auto& extra : extras_) {
                fds.push_back({extra->fd(), POLLIN, 0});
            }
            timespec timeout{1, 0};
            if (const auto next = timeline_.nextEventAt()) {
                const Micros now = timeline_.now();
                const Micros wait = *next > now ? *next - now : 0;
                timeout = {static_cast<time_t>(wait / 1000000),
                           static_cast<long>(wait % 1000000) * 1000};
            }
            if (ppoll(fds.data(), fds.size(), &timeout, &waitMask) < 0) {
                continue;  // a signal: the loop condition decides
            }
            if ((fds[0].revents & POLLIN) != 0) {
                const auto output = device_.takeEvent();
                if (output && shown_ != 0) {
                    adapter_.receive(shown_, *output);
                }
            }
            for (std::size_t i = 0; i < extras_.size(); ++i) {
                if ((fds[i + 1].revents & POLLIN) != 0) {
                    extras_[i]->takeEvent();  // extra interfaces hear but never answer
                }
            }
        }
    }

  private:
    // Makes the kernel's device match the adapter's present appearance.
    void follow() {
        const auto present = adapter_.presentInterface();
        const std::uint64_t wanted = present ? present->presence : 0;
        if (wanted == shown_) {
            return;
        }
        if (device_.created()) {
            device_.destroy();
            say("adapter left the bus");
        }
        if (present) {
            device_.create(present->info.product, present->info.serial);
            say("adapter appeared as \"" + present->info.product + "\" serial " +
                present->info.serial);
        }
        shown_ = wanted;
    }

    void showExtra(std::size_t index) {
        const velkora::platform::HidDeviceInfo info = velkora::sim::extraInterfaceInfo(
            extraProfiles_[index], index, adapter_.profile().identity);
        extras_[index]->create(info.product, info.serial);
        say("extra interface appeared as \"" + info.product + "\" serial " + info.serial);
    }

    void say(const std::string& text) const {
        std::fprintf(stderr, "velkora-uhid-bridge: %6llu ms %s\n",
                     static_cast<unsigned long long>(timeline_.now() / velkora::sim::kMicrosPerMs),
                     text.c_str());
    }

    velkora::sim::Timeline timeline_{velkora::sim::Timeline::Mode::RealTime};
    velkora::sim::SimulatedAdapter adapter_;
    std::vector<velkora::sim::ExtraInterfaceProfile> extraProfiles_;
    velkora::sim::UhidDevice device_;
    std::vector<std::unique_ptr<velkora::sim::UhidDevice>> extras_;
    std::uint64_t shown_ = 0;  // the adapter appearance the kernel device stands for; 0: none
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: velkora-uhid-bridge SCENARIO\n");
        return 2;
    }
    // The stop signals are held back except while the bridge waits, so none is missed
    // between a look at the flag and the wait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stopSignals, signal);
        sigaction(signal, &action, nullptr);
    }
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    try {
        Bridge bridge(velkora::sim::readScenarioFile(argv[1]));
        bridge.run(waitMask);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velkora-uhid-bridge: %s\n", error.what());
        return 1;
    }
    return 0;
}
