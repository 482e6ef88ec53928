#include <gtest/gtest.h>

#include <istream>
#include <stdexcept>

#include "sim/scripted_console.h"
#include "sim/scripted_keys.h"
#include "tests/sim/sim_rig.h"

namespace velkora::sim::testing {
namespace {

// Waiting costs no real time: a read with nothing due returns its time-out at once and the
// clock has moved by exactly that much.
TEST(VirtualTime, ReadWithNothingDueJumpsToItsTimeOut) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.faults = {{command::kGetInfo, 1, FaultKind::NoAnswer, 0, 0}};
    SimRig rig(profile);
    HidHandle handle = rig.openPresent();
    const std::uint64_t before = rig.env.clock().tickCount64();
    EXPECT_THROW(rig.send(handle, command::kGetInfo, {}, 5000), std::runtime_error);
    EXPECT_EQ(rig.env.clock().tickCount64() - before, 5000u);
}

// The 32-bit tick count wraps like GetTickCount; an exchange that spans the wrap still
// measures its time-out correctly.
TEST(VirtualTime, TickCountWrapsInsideAnExchange) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.faults = {{command::kGetInfo, 1, FaultKind::Stale, 1, 0},
                      {command::kGetInfo, 1, FaultKind::Delay, 2500, 0}};
    SimRig rig(profile, SimOptions{Timeline::Mode::Virtual, (std::uint64_t{1} << 32) - 1000, 0});
    HidHandle handle = rig.openPresent();
    EXPECT_EQ(rig.env.clock().tickCount32(), 0xFFFFFC18u);
    EXPECT_EQ(rig.send(handle, command::kGetInfo).responseStatus(), status::kOk);
    EXPECT_EQ(rig.env.clock().tickCount32(), 1500u);
    EXPECT_EQ(rig.env.clock().tickCount64(), (std::uint64_t{1} << 32) + 1500);
}

// A late adapter plugs in a set time after the updater first looks, while it sleeps.
TEST(VirtualTime, DeviceEventsHappenInsideSleeps) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.timing.plugInMs = 2000;
    SimRig rig(profile);
    rig.sleepMs(5000);  // before the updater looks, nothing is counted
    EXPECT_TRUE(rig.env.bus().enumerate().empty());
    rig.sleepMs(1999);
    EXPECT_TRUE(rig.env.bus().enumerate().empty());
    rig.sleepMs(1);
    EXPECT_EQ(rig.env.bus().enumerate().size(), 1u);
}

// With the full-speed timing model a request leaves at the next 1 ms frame and its answer
// comes back one frame later; a write that cannot wait for a frame times out.
TEST(VirtualTime, UsbFramesPutReportsOnMillisecondBoundaries) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.timing.usbFrames = true;
    SimRig rig(profile);
    HidHandle handle = rig.openPresent();
    EXPECT_EQ(rig.send(handle, command::kGetStatus).responseStatus(), status::kOk);
    EXPECT_EQ(rig.env.timeline().now(), fromMs(2));
    EXPECT_EQ(rig.send(handle, command::kGetStatus).responseStatus(), status::kOk);
    EXPECT_EQ(rig.env.timeline().now(), fromMs(4));
    try {
        rig.send(handle, command::kGetStatus, {}, 0);
        ADD_FAILURE() << "a write with no time to wait for its frame must time out";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Timed out writing HID report.");
    }
}

// Keys become visible at their moment; a line the program asks for early moves the time to
// the moment it is typed, and the screen shows it where it was read.
TEST(VirtualTime, ScriptedKeysAndLinesFollowTheClock) {
    Timeline timeline(Timeline::Mode::Virtual);
    ScriptedKeys keys(timeline, {{300, 'q'}, {100, 0}, {100, 72}});
    EXPECT_FALSE(keys.keyWaiting());
    timeline.sleepUntil(fromMs(100));
    EXPECT_EQ(keys.readKey(), 0);
    EXPECT_EQ(keys.readKey(), 72);
    EXPECT_FALSE(keys.keyWaiting());
    EXPECT_EQ(keys.readKey(), -1);

    ScreenCapture screen;
    ScriptedConsoleInput input(timeline, {{50, "early"}, {2000, " 3 "}, {0, "last", false}},
                               &screen);
    std::istream in(&input);
    std::ostream out(&screen);
    std::string line;
    out << "A: ";
    std::getline(in, line);
    EXPECT_EQ(line, "early");
    EXPECT_EQ(timeline.now(), fromMs(100)) << "typed ahead";
    out << "B: ";
    std::getline(in, line);
    EXPECT_EQ(line, " 3 ");
    EXPECT_EQ(timeline.now(), fromMs(2000));
    std::getline(in, line);
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(std::getline(in, line));
    EXPECT_EQ(screen.printed(), "A: B: ");
    EXPECT_EQ(screen.screen(), "A: early\nB:  3 \nlast");
}

TEST(VirtualTime, RunawayWaitEndsAtTheLimit) {
    Timeline timeline(Timeline::Mode::Virtual);
    timeline.setVirtualLimit(fromMs(1000));
    EXPECT_THROW(timeline.sleepUntil(fromMs(1001)), SimulationTimeLimit);
}

}  // namespace
}  // namespace velkora::sim::testing

namespace velkora::sim::testing {
namespace {

// The demo's mode: the same model on the steady clock, where waits really sleep. Only lower
// bounds are checked, which hold however busy the machine is.
TEST(RealTime, SameModelWithRealWaits) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.timing.plugInMs = 50;
    profile.timing.usbFrames = true;
    SimRig rig(profile, SimOptions{Timeline::Mode::RealTime, 0, 0});
    EXPECT_TRUE(rig.env.bus().enumerate().empty());
    rig.sleepMs(60);
    EXPECT_GE(rig.env.timeline().now(), fromMs(60));
    HidHandle handle = rig.openPresent();
    ASSERT_TRUE(handle.valid());
    const Micros before = rig.env.timeline().now();
    EXPECT_EQ(rig.send(handle, command::kGetStatus).responseStatus(), status::kOk);
    EXPECT_GE(rig.env.timeline().now() - before, fromMs(1)) << "at least one frame each way";
}

// A request crosses the bus at its frame boundary, however late after it the host's thread
// runs again; the adapter's answer is timed from there.
TEST(RealTime, RequestsArriveAtTheirFrameBoundary) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.timing.usbFrames = true;
    SimRig rig(profile, SimOptions{Timeline::Mode::RealTime, 0, 0});
    HidHandle handle = rig.openPresent();
    ASSERT_TRUE(handle.valid());
    for (int i = 0; i < 5; ++i) {
        rig.send(handle, command::kGetStatus);
    }
    for (const ReceivedRequest& request : rig.env.adapter().requests()) {
        EXPECT_EQ(request.at % kMicrosPerMs, 0u) << "received at " << request.at << " us";
    }
}

}  // namespace
}  // namespace velkora::sim::testing
