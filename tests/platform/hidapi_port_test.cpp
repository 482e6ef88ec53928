#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/hid_port.h"

namespace velkora::platform {
namespace {

// The build machine has no adapter: the real hidapi listing must come back empty, not fail.
TEST(HidapiPort, EnumerationWithoutAdapterIsEmpty) {
    EXPECT_TRUE(systemHidPort().enumerate().empty());
}

TEST(HidapiPort, OpenFailureNamesTheSystemError) {
    const HidOpenResult opened = systemHidPort().open("/dev/velkora-no-such-hidraw");
    EXPECT_EQ(opened.connection, nullptr);
    EXPECT_EQ(opened.errorDetail, "errno 2 (No such file or directory)");
}

}  // namespace
}  // namespace velkora::platform
