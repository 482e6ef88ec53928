#pragma once

#include <sstream>
#include <string>

#include "common/run_log.h"
#include "hid/hid_device.h"
#include "tests/support/outcome.h"
#include "tests/support/scripted_hid_port.h"
#include "tests/support/test_files.h"

namespace velkora::testing {

// A connection over a scripted port, with run log and console, fresh for each row of a table.
struct Bench {
    Bench() : handle(openHidDevice(services, platform::fromUtf8("adapter"))) {}

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
