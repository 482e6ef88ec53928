#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "hid/hid_device.h"
#include "tests/support/fake_services.h"

namespace velkora {
namespace {

TEST(IsManagementInterface, OnlyTheExactProductString) {
    const struct {
        const char* product;
        bool management;
    } cases[] = {
        {"Velkora Management Interface", true},
        {"velkora management interface", false},
        {"Velkora Management Interface ", false},
        {"Velkora Management", false},
        {"Velkora Bootloader", false},
        {"", false},  // strings that could not be read: a bootloader
    };
    for (const auto& c : cases) {
        HidDeviceInfo device;
        device.product = c.product;
        EXPECT_EQ(isManagementInterface(device), c.management) << '"' << c.product << '"';
    }
}

TEST(OpenHidDevice, FailureNamesTheSystemError) {
    testing::FakeServices fake(".");
    try {
        openHidDevice(fake.services(), platform::fromUtf8("missing"));
        FAIL() << "the open succeeded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Unable to open HID device. Windows error 2");
    }
}

}  // namespace
}  // namespace velkora
