#include <fcntl.h>

#include "platform/hid_port.h"
#include "platform/posix/hidraw_connection.h"
#include "platform/posix/sysfs_hid_listing.h"

namespace velkora::platform {
namespace {

// The adapter's hidraw nodes, listed from sysfs and opened directly. A listing of its own
// rather than a library's: the adapter leaves and returns at every change of identity, and the
// listing must take a device that vanishes while it is read in its stride.
class HidrawPort final : public HidPort {
  public:
    std::vector<HidDeviceInfo> enumerate() override {
        return posix::listAdapterHidrawNodes("/sys", "/dev");
    }

    HidOpenResult open(const NativeString& path) override {
        return posix::openHidrawNode(
            path, [](const char* node) { return ::open(node, O_RDWR | O_CLOEXEC); });
    }
};

}  // namespace

HidPort& systemHidPort() {
    static HidrawPort port;
    return port;
}

}  // namespace velkora::platform
