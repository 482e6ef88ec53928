// The Linux HID port over a hidapi that the test plays: this program defines the hidapi
// functions the port calls, and the linker takes them before the library's.
#include <hidapi/hidapi.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>

#include "platform/hid_port.h"

namespace {

// What hidapi answers, and the calls the port made, one a line.
struct {
    int initResult = 0;
    std::vector<hid_device_info> listed;
    int result = 0;  // of a write or a read; an open fails when it is negative
    int error = 0;   // errno of a failing call; 0 leaves errno alone
    const wchar_t* errorText = nullptr;
    std::string calls;
} hidapi;

int deviceStorage = 0;
hid_device* const kDevice = reinterpret_cast<hid_device*>(&deviceStorage);

template <typename T>
T call(const std::string& what, hid_device* device, bool failed, T result) {
    hidapi.calls += what + (device == kDevice ? "\n" : " of another device\n");
    if (failed && hidapi.error != 0) {
        errno = hidapi.error;
    }
    return result;
}

}  // namespace

extern "C" {
int hid_init() {
    return hidapi.initResult;
}
int hid_exit() {
    return 0;
}
hid_device_info* hid_enumerate(unsigned short vendorId, unsigned short productId) {
    for (std::size_t i = 0; i + 1 < hidapi.listed.size(); ++i) {
        hidapi.listed[i].next = &hidapi.listed[i + 1];
    }
    return call("enumerate " + std::to_string(vendorId) + ":" + std::to_string(productId), kDevice,
                false, hidapi.listed.empty() ? nullptr : hidapi.listed.data());
}
void hid_free_enumeration(hid_device_info* list) {
    call(list == hidapi.listed.data() ? "free" : "free another list", kDevice, false, 0);
}
hid_device* hid_open_path(const char* path) {
    return call("open " + std::string(path), kDevice, hidapi.result < 0,
                hidapi.result < 0 ? nullptr : kDevice);
}
void hid_close(hid_device* device) {
    call("close", device, false, 0);
}
int hid_write(hid_device* device, const unsigned char*, size_t length) {
    return call("write " + std::to_string(length), device, hidapi.result < 0, hidapi.result);
}
int hid_read_timeout(hid_device* device, unsigned char* data, size_t length, int milliseconds) {
    data[length - 1] = 0xC3;
    return call("read " + std::to_string(length) + " " + std::to_string(milliseconds), device,
                hidapi.result < 0, hidapi.result);
}
const wchar_t* hid_error(hid_device*) {
    return hidapi.errorText;
}
}

namespace velkora::platform {
namespace {

// First of all: the port initialises hidapi on first use, and tries again after a failure. USB
// strings arrive as UTF-32, converted at the edges of each UTF-8 length; one that is not Unicode
// (a surrogate, or beyond U+10FFFF) counts as one that cannot be read.
TEST(HidapiPort, ListsTheAdaptersInterfacesWithTheirStringsInUtf8) {
    hidapi.initResult = -1;
    EXPECT_THROW(systemHidPort().enumerate(), std::runtime_error);
    EXPECT_THROW(systemHidPort().open("/dev/hidraw0"), std::runtime_error);
    hidapi.initResult = 0;
    std::wstring texts[] = {L"Velkora \x7F\x80\x7FF\x800\xD7FF\xE000\xFFFF\x10000\x10FFFF",
                            L"a\xD800", L"\xDFFF", std::wstring(1, static_cast<wchar_t>(0x110000)),
                            L"Ger\xE4t"};
    std::string path = "/dev/hidraw3";
    for (std::size_t i = 0; i < 2; ++i) {
        hid_device_info& entry = hidapi.listed.emplace_back();
        entry.path = path.data();
        entry.product_string = texts[i * 3].data();
        entry.manufacturer_string = texts[i * 3 + 1].data();
        entry.serial_number = texts[(i * 3 + 2) % 5].data();
    }
    hidapi.listed.emplace_back();  // no path, no strings
    std::string found;
    for (const HidDeviceInfo& device : systemHidPort().enumerate()) {
        found += device.path + "|" + device.product + "|" + device.manufacturer + "|" +
                 device.serial + "\n";
    }
    EXPECT_EQ(
        found,
        "/dev/hidraw3|Velkora \x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"
        "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF||\n/dev/hidraw3||Ger\xC3\xA4t|Velkora "
        "\x7F\xC2\x80\xDF\xBF"
        "\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF\n|||\n");
    EXPECT_EQ(hidapi.calls, "enumerate 1155:42425\nfree\n");
}

// Each call: what hidapi returns with which errno, the time-out given, and how the call ended.
// A failure is named by the call's own errno, not by one left over from before it, or else by
// hidapi's description. The connection closes its device when it goes.
TEST(HidapiPort, OpensReadsWritesAndClosesAndNamesEachFailure) {
    const std::tuple<int, const wchar_t*, std::string> openFailures[] = {
        {ENOENT, nullptr, "errno 2 (No such file or directory)"},
        {0, L"hidapi: gone \xE9", "hidapi: gone \xC3\xA9"},
        {0, nullptr, "errno 0"}};
    hidapi.result = -1;
    for (const auto& [error, text, detail] : openFailures) {
        hidapi.error = error;
        hidapi.errorText = text;
        errno = EINVAL;
        const HidOpenResult opened = systemHidPort().open("/dev/hidraw7");
        EXPECT_EQ(opened.errorDetail + (opened.connection ? " opened" : ""), detail);
    }
    hidapi.result = 0;
    HidOpenResult opened = systemHidPort().open("/dev/hidraw7");
    ASSERT_NE(opened.connection, nullptr);
    hidapi.errorText = L"hidapi: failed";
    const std::vector<std::uint8_t> report(65, 0x5A);
    std::uint8_t buffer[65] = {};
    const struct {
        bool write;
        int result;
        int error;
        std::uint32_t timeoutMs;
        std::string ending;
    } calls[] = {{true, 65, 0, 1000, "write 65\nCompleted 65 "},
                 {true, 64, 0, 1000, "write 65\nCompleted 64 "},
                 {true, -1, ETIMEDOUT, 1000, "write 65\nTimedOut 0 "},
                 {true, -1, EIO, 1000, "write 65\nFailed 0 errno 5"},
                 {true, -1, 0, 1000, "write 65\nFailed 0 hidapi: failed"},
                 {false, 65, 0, 1000, "read 65 1000\nCompleted 65 "},
                 {false, 64, 0, 0, "read 65 0\nCompleted 64 "},
                 {false, 0, 0, INT_MAX, "read 65 2147483647\nTimedOut 0 "},
                 {false, 0, 0, std::uint32_t{INT_MAX} + 1, "read 65 2147483647\nTimedOut 0 "},
                 {false, -1, EIO, 0xFFFFFFFF, "read 65 2147483647\nFailed 0 errno 5"}};
    const char* const statuses[] = {"Completed", "TimedOut", "EventFailed", "WaitFailed", "Failed"};
    for (const auto& c : calls) {
        hidapi.calls = "";
        hidapi.result = c.result;
        hidapi.error = c.error;
        errno = EINVAL;
        const HidIoResult r = c.write ? opened.connection->write(report, c.timeoutMs)
                                      : opened.connection->read(buffer, c.timeoutMs);
        EXPECT_EQ(hidapi.calls + statuses[static_cast<int>(r.status)] + " " +
                      std::to_string(r.bytes) + " " + r.errorDetail,
                  c.ending);
    }
    EXPECT_EQ(buffer[64], 0xC3) << "read into the caller's buffer";
    hidapi.error = 0;
    hidapi.result = -1;
    EXPECT_NE(opened.connection->read(buffer, 10).errorDetail, "") << "a failure without errno";
    hidapi.calls = "";
    opened.connection.reset();
    EXPECT_EQ(hidapi.calls, "close\n");
}

}  // namespace
}  // namespace velkora::platform
