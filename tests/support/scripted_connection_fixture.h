#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "app/common/run_log.h"
#include "hid/hid_device.h"
#include "tests/support/fake_services.h"
#include "tests/support/log_lines.h"
#include "tests/support/scripted_hid_port.h"
#include "tests/support/temp_folder.h"

namespace velkora::testing {

// One open connection over a scripted port, with a run log in a temporary folder.
class ScriptedConnectionFixture : public ::testing::Test {
  protected:
    void SetUp() override { handle = openHidDevice(services, platform::fromUtf8("adapter")); }

    // Scripts the answer to the next request.
    void answer(std::uint8_t command, std::uint8_t sequence, std::uint8_t status = 0,
                const std::vector<std::uint8_t>& payload = {}) {
        port.onRequest().reply(responseReport(command, sequence, status, payload));
    }

    // The command codes of the requests written, in order.
    std::vector<int> commandsSent() const {
        std::vector<int> commands;
        for (const Report& report : port.written()) {
            commands.push_back(report[5]);
        }
        return commands;
    }

    std::vector<std::string> logLines() const { return readLogLines(log.path()); }

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
    std::vector<std::uint8_t> payload(20, 0);
    payload[0] = state;
    payload[1] = active;
    payload[2] = lastCommand;
    payload[3] = lastStatus;
    for (int i = 0; i < 4; ++i) {
        payload[8 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(expected >> (8 * i));
        payload[12 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(received >> (8 * i));
    }
    return payload;
}

}  // namespace velkora::testing
