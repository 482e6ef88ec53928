#pragma once

#include <sstream>
#include <string>

#include "app/common/run_log.h"
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

// A GET_STATUS payload.
inline std::vector<std::uint8_t> statusPayload(std::uint8_t state, std::uint8_t active,
                                               std::uint8_t lastCommand, std::uint8_t lastStatus,
                                               std::uint32_t expected, std::uint32_t received) {
    std::vector<std::uint8_t> payload{state, active, lastCommand, lastStatus};
    payload.resize(16);
    writeLe32(payload, 8, expected);
    writeLe32(payload, 12, received);
    return payload;
}

}  // namespace velkora::testing
