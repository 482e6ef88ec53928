#pragma once

#include <sstream>
#include <string>

#include "common/run_log.h"
#include "hid/hid_device.h"
#include "tests/support/outcome.h"
#include "tests/support/scripted_hid_port.h"
#include "tests/support/test_files.h"

namespace velkora::testing {

// The updater's surroundings for a test, fresh for each row of a table: a program folder with
// a run log, the console input given and its output captured, a manual clock, no keys, and a
// scripted HID bus with a connection open on it.
struct Bench {
    explicit Bench(const std::string& consoleInput = {})
        : in(consoleInput), handle(openHidDevice(services, platform::fromUtf8("adapter"))) {}

    void answer(std::uint8_t command, std::uint8_t sequence, std::uint8_t status = 0,
                const std::vector<std::uint8_t>& payload = {}) {
        port.onRequest().reply(responseReport(command, sequence, status, payload));
    }

    TempFolder folder;
    ManualClock clock;
    ScriptedHidPort port{clock};
    NoKeys keys;
    FakeHost host{folder.path()};
    std::istringstream in;
    std::ostringstream out;
    platform::Services services{clock, port, keys, host, in, out};
    RunLog log = openRunLog(folder.path(), clock);
    HidHandle handle;
};

}  // namespace velkora::testing
