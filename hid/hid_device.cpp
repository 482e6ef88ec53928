#include "hid/hid_device.h"

#include <stdexcept>

namespace velkora {

std::vector<HidDeviceInfo> enumerateHidDevices(platform::Services& services) {
    return services.hid.enumerate();
}

HidHandle openHidDevice(platform::Services& services, const platform::NativeString& path) {
    platform::HidOpenResult opened = services.hid.open(path);
    if (!opened.connection) {
        throw std::runtime_error("Unable to open HID device. " + opened.errorDetail);
    }
    return HidHandle(std::move(opened.connection), services.clock);
}

}  // namespace velkora
