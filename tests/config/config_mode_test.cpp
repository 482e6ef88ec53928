#include "config/config_mode.h"

#include <gtest/gtest.h>

#include <istream>
#include <streambuf>

#include "tests/support/sim_services.h"
#include "tests/support/temp_folder.h"

namespace velkora {
namespace {

// A console whose every read throws something that is no standard exception.
class ThrowingInput : public std::streambuf {
  protected:
    int_type underflow() override { throw 42; }
};

// Whatever ends the editor, even a throw of no standard type, the session leaves the
// management interface with one quiet EXIT and closes it before the throw goes on.
TEST(ConfigurationMode, LeavesTheInterfaceWhateverIsThrown) {
    testing::TempFolder folder;
    testing::SimServices sim(folder.path(), sim::defaultAdapterProfile());
    ThrowingInput throwing;
    std::istream in(&throwing);
    in.exceptions(std::ios::badbit);  // the stream passes its buffer's throw on
    const platform::Services& base = sim.services();
    platform::Services services{base.clock, base.hid, base.keys, base.host, in, base.out};
    RunLog log = openRunLog(folder.path(), base.clock);
    const HidDeviceInfo bootloader = services.hid.enumerate().front();
    HidHandle handle = openHidDevice(services, bootloader.path);
    std::uint8_t sequence = 4;

    EXPECT_THROW(runConfigurationMode(services, handle, sequence, bootloader, log), int);
    ASSERT_FALSE(sim.adapter().requests().empty());
    EXPECT_EQ(sim.adapter().requests().back().request.command, 0x81) << "EXIT last";
    EXPECT_EQ(sim.bus().openConnections(), 0u);
}

}  // namespace
}  // namespace velkora
