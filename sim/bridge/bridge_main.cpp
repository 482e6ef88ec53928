#include <csignal>
#include <cstdio>
#include <exception>

#include "sim/bridge/bridge.h"
#include "sim/scenario_reader.h"

// velkora-bridge SCENARIO
//
// Serves the simulated Velkora of a scenario file to this machine's kernel, in real time,
// until SIGTERM, SIGINT or SIGHUP: the adapter as a USB HID device 0483:A5B9 on dummy_hcd
// (a configfs gadget), in whichever identity it shows, and each extra interface of the
// scenario as a device of its own. Every identity change (the hand-over to the management
// interface, the return to the bootloader, the restart after an install, an unplug) is a USB
// disconnect and a new connection with the new identity's strings. It runs as root and sets
// up what it needs (modules, configfs); it removes every gadget it made before it ends.
//
// One line on the error stream tells each appearance and disappearance ("adapter appeared as
// ...", "adapter left the bus"). VELKORA_BRIDGE_TRACE=1 adds every request and report with
// its command, sequence number and time; VELKORA_BRIDGE_HOST=wine adapts it to a program run
// under Wine (see BridgeOptions). A scenario's plug_in_ms and appear_ms count from the
// bridge's start. Exit status 0 after a signal, 1 when the scenario cannot be read or the
// devices cannot be made or are lost.

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: velkora-bridge SCENARIO\n");
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
        velkora::sim::Bridge bridge(velkora::sim::readScenarioFile(argv[1]),
                                    velkora::sim::bridgeOptionsFromEnvironment());
        bridge.run(waitMask, stopRequested);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velkora-bridge: %s\n", error.what());
        return 1;
    }
    return 0;
}
