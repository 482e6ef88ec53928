#include <hidapi/hidapi.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/hid_port.h"

namespace velkora::platform {
namespace {

// The kernel lists a device that has just appeared before udev has applied the rules that
// open its node to the user: until then the node belongs to root alone, for a few
// milliseconds, longer on a busy system. A refused open is tried again for this long before it
// counts; without a rule that grants access it still fails, only later.
constexpr auto kPermissionGrace = std::chrono::milliseconds(2000);
constexpr auto kPermissionRetry = std::chrono::milliseconds(50);

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// hidapi hands USB strings over as wchar_t, which holds UTF-32 on Linux. A string that cannot
// be converted is treated like one that cannot be read: empty.
std::string usbStringToUtf8(const wchar_t* text) {
    std::string result;
    if (text == nullptr) {
        return result;
    }
    for (; *text != L'\0'; ++text) {
        const auto c = static_cast<char32_t>(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return {};
        }
        appendUtf8(result, c);
    }
    return result;
}

// The system's error number, in the place where Windows names its error code. Should hidapi
// fail without one, its own description stands in, so that the message still says what
// happened.
std::string failureDetail(int error, hid_device* device) {
    if (error != 0) {
        return "errno " + std::to_string(error);
    }
    const std::string description = usbStringToUtf8(hid_error(device));
    return description.empty() ? "errno 0" : description;
}

class HidapiConnection final : public HidConnection {
  public:
    explicit HidapiConnection(hid_device* device) : device_(device) {}
    ~HidapiConnection() override { hid_close(device_); }
    HidapiConnection(const HidapiConnection&) = delete;
    HidapiConnection& operator=(const HidapiConnection&) = delete;

    // A hidraw write blocks until the kernel has handed the report to the device, and the
    // kernel bounds that itself (five seconds for USB). Nothing stays pending that a time-out
    // of ours would have to cancel, so the time-out is not used; the kernel's own time-out is
    // reported as the write timing out.
    HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t) override {
        errno = 0;
        const int written = hid_write(device_, report.data(), report.size());
        if (written < 0) {
            const int error = errno;
            if (error == ETIMEDOUT) {
                return {HidIoResult::Status::TimedOut, 0, {}};
            }
            return {HidIoResult::Status::Failed, 0, failureDetail(error, device_)};
        }
        return {HidIoResult::Status::Completed, static_cast<std::uint32_t>(written), {}};
    }

    // A device that answers and leaves the bus at once (an adapter that restarts after
    // END_UPDATE, STORE_CONFIG or EXIT) leaves its last reports queued on the node. hidapi's
    // timed read gives up on the hang-up before it reads them, failing without an error
    // number; a plain read, which returns at once on a node whose device has gone, still
    // collects them. Once none is left the failure is reported as the kernel reports a write
    // to a device that has gone, ENODEV, so an unplug reads the same whichever operation
    // meets it.
    HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) override {
        const int timeout = timeoutMs > INT_MAX ? INT_MAX : static_cast<int>(timeoutMs);
        errno = 0;
        int count = hid_read_timeout(device_, buffer.data(), buffer.size(), timeout);
        int error = errno;
        if (count < 0 && error == 0) {
            count = hid_read(device_, buffer.data(), buffer.size());
            error = ENODEV;
        }
        if (count < 0) {
            return {HidIoResult::Status::Failed, 0, failureDetail(error, device_)};
        }
        if (count == 0) {
            return {HidIoResult::Status::TimedOut, 0, {}};
        }
        return {HidIoResult::Status::Completed, static_cast<std::uint32_t>(count), {}};
    }

  private:
    hid_device* device_;
};

class HidapiPort final : public HidPort {
  public:
    ~HidapiPort() override {
        if (initialised_) {
            hid_exit();
        }
    }

    std::vector<HidDeviceInfo> enumerate() override {
        initialise();
        std::vector<HidDeviceInfo> result;
        hid_device_info* list = hid_enumerate(kAdapterVendorId, kAdapterProductId);
        for (const hid_device_info* entry = list; entry != nullptr; entry = entry->next) {
            HidDeviceInfo record;
            record.path = entry->path != nullptr ? entry->path : "";
            record.manufacturer = usbStringToUtf8(entry->manufacturer_string);
            record.product = usbStringToUtf8(entry->product_string);
            record.serial = usbStringToUtf8(entry->serial_number);
            result.push_back(std::move(record));
        }
        hid_free_enumeration(list);
        return result;
    }

    HidOpenResult open(const NativeString& path) override {
        initialise();
        const auto deadline = std::chrono::steady_clock::now() + kPermissionGrace;
        hid_device* device = nullptr;
        int error = 0;
        for (;;) {
            errno = 0;
            device = hid_open_path(path.c_str());
            error = errno;
            if (device != nullptr || (error != EACCES && error != EPERM) ||
                std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            std::this_thread::sleep_for(kPermissionRetry);
        }
        if (device == nullptr) {
            // The most common failure is a missing udev rule; strerror's "Permission denied"
            // says so more plainly than the number alone.
            std::string detail = failureDetail(error, nullptr);
            if (error != 0) {
                detail += std::string(" (") + std::strerror(error) + ")";
            }
            return {nullptr, detail};
        }
        return {std::make_unique<HidapiConnection>(device), {}};
    }

  private:
    void initialise() {
        if (!initialised_) {
            if (hid_init() != 0) {
                throw std::runtime_error("hid_init failed.");
            }
            initialised_ = true;
        }
    }

    bool initialised_ = false;
};

}  // namespace

HidPort& systemHidPort() {
    static HidapiPort port;
    return port;
}

}  // namespace velkora::platform
