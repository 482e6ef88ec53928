#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/sim/sim_rig.h"

namespace velkora::sim::testing {
namespace {

std::vector<platform::HidDeviceInfo> listAfter(SimRig& rig, std::uint32_t ms) {
    rig.sleepMs(ms);
    return rig.env.bus().enumerate();
}

// START_APP_USB hands over to the management interface and EXIT hands back: each identity
// has its own path, both carry the adapter's serial, and a handle on an identity that has
// gone fails instead of hanging.
TEST(AdapterIdentity, HandOverAndBackKeepsSerial) {
    SimRig rig(defaultAdapterProfile());
    const auto atStart = rig.env.bus().enumerate();
    ASSERT_EQ(atStart.size(), 1u);
    const platform::HidDeviceInfo bootloader = atStart.front();
    HidHandle boot = rig.openPresent();
    EXPECT_EQ(rig.send(boot, command::kStartAppUsb).responseStatus(), status::kOk);

    EXPECT_TRUE(listAfter(rig, 100).empty()) << "re-enumerating";
    EXPECT_THROW(rig.send(boot, command::kGetInfo), std::runtime_error);
    boot.close();

    const auto application = listAfter(rig, 800);
    ASSERT_EQ(application.size(), 1u);
    EXPECT_EQ(application[0].product, "Velkora Management Interface");
    EXPECT_EQ(application[0].serial, bootloader.serial);
    EXPECT_NE(application[0].path, bootloader.path);

    HidHandle management = rig.openPresent();
    EXPECT_EQ(rig.send(management, command::kGetInfo).responseStatus(), status::kUnknownCommand)
        << "bootloader commands mean nothing to the application";
    EXPECT_EQ(rig.send(management, command::kExit, {}, 5000).responseStatus(), status::kOk);
    EXPECT_EQ(rig.env.adapter().application().exitCount(), 1u);
    EXPECT_EQ(rig.env.bus().openConnections(), 1u);
    management.close();
    EXPECT_EQ(rig.env.bus().openConnections(), 0u);

    const auto back = listAfter(rig, 900);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].path, bootloader.path);
    EXPECT_EQ(back[0].serial, bootloader.serial);
}

// A store makes the working copy permanent and restarts the adapter into its bootloader; the
// next application start reads the stored copy. Restoring defaults only stages them.
TEST(AdapterIdentity, StoreRestartsIntoBootloaderWithStoredConfiguration) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.identity.initial = Identity::Application;
    profile.config[2] = {true, 0, 2};
    profile.config[6] = {false, 0, 0};
    SimRig rig(profile);
    HidHandle app = rig.openPresent();

    EXPECT_EQ(rig.send(app, command::kSetConfigItem, {3, 1}, 5000).responseStatus(), status::kOk);
    EXPECT_EQ(rig.send(app, command::kSetConfigItem, {7, 0}, 5000).responseStatus(),
              status::kBadItem);
    EXPECT_EQ(rig.send(app, command::kSetConfigItem, {6, 2}, 5000).responseStatus(),
              status::kBadValue);
    EXPECT_EQ(rig.send(app, command::kStoreConfig, {}, 5000).responseStatus(), status::kOk);
    EXPECT_EQ(rig.env.adapter().application().config().stored[2], 1);

    const auto restarted = listAfter(rig, 1000);
    ASSERT_EQ(restarted.size(), 1u);
    EXPECT_EQ(restarted[0].product, "Velkora Bootloader");
    app.close();

    HidHandle boot = rig.openPresent();
    ASSERT_EQ(rig.send(boot, command::kStartAppUsb).responseStatus(), status::kOk);
    boot.close();
    rig.sleepMs(1000);
    app = rig.openPresent();
    ASSERT_EQ(rig.send(app, command::kResetConfig, {}, 5000).responseStatus(), status::kOk);
    const HidResponse config = rig.send(app, command::kGetConfig, {}, 5000);
    EXPECT_EQ(config.responsePayload(1), 8) << "item 7 is absent";
    EXPECT_EQ(config.responsePayload(2 + 2 * 2 + 1), 2) << "item 3 back at its default";
    EXPECT_EQ(rig.env.adapter().application().config().stored[2], 1) << "defaults not stored";
}

// The dump follows its acknowledgement in reports of the configured sizes, all with the
// command's sequence number; after CLEAR_FAULTS the next dump is the empty one.
TEST(AdapterIdentity, FaultDumpStreamsInChunksAndClears) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.identity.initial = Identity::Application;
    profile.faultDump =
        faultDumpBeginMarker() + "001\r\n001 FLT_WELD 00100 00003\r\n" + faultDumpEndMarker();
    profile.timing.dumpChunkSizes = {20, 1, 56};
    SimRig rig(profile);
    HidHandle app = rig.openPresent();

    auto download = [&] {
        const HidResponse ack = rig.send(app, command::kFaultDump, {}, 5000);
        EXPECT_EQ(ack.payloadLength(), 0);
        std::string dump;
        std::vector<int> sizes;
        while (dump.find(faultDumpEndMarker()) == std::string::npos) {
            HidResponse report;
            report.length = hidReadReport(app, report.data, 5000);
            EXPECT_EQ(report.sequence(), ack.sequence());
            sizes.push_back(report.payloadLength());
            for (std::size_t i = 0; i < report.payloadLength(); ++i) {
                dump += static_cast<char>(report.responsePayload(i));
            }
        }
        return std::pair(dump, sizes);
    };
    const auto [dump, sizes] = download();
    EXPECT_EQ(dump, profile.faultDump);
    EXPECT_EQ(std::vector<int>(sizes.begin(), sizes.begin() + 4),
              (std::vector<int>{20, 1, 56, 20}));

    EXPECT_EQ(rig.send(app, command::kClearFaults, {}, 5000).responseStatus(), status::kOk);
    EXPECT_EQ(download().first, emptyFaultDump());
}

// The bus faults: interfaces besides the adapter are listed as they are, and never answer.
TEST(AdapterIdentity, ExtraInterfacesAreListedButMute) {
    AdapterProfile profile = defaultAdapterProfile();
    profile.extras = {{ExtraInterfaceProfile::Kind::Bootloader, "S2", 0},
                      {ExtraInterfaceProfile::Kind::Unreadable, "ignored", 0},
                      {ExtraInterfaceProfile::Kind::Management, "FOREIGN", 500}};
    SimRig rig(profile);
    auto devices = rig.env.bus().enumerate();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[1].serial, "S2");
    EXPECT_EQ(devices[2].product, "");
    EXPECT_EQ(devices[2].serial, "");
    EXPECT_EQ(listAfter(rig, 500).size(), 4u);

    platform::HidOpenResult opened = rig.env.bus().open(devices[1].path);
    HidHandle mute(std::move(opened.connection), rig.env.clock());
    EXPECT_THROW(rig.send(mute, command::kGetInfo), std::runtime_error);
}

}  // namespace
}  // namespace velkora::sim::testing
