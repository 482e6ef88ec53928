// The Linux HID port over a hidapi that the test plays: this program defines the hidapi
// functions the port calls, and the linker takes them before the library's.
#include <hidapi/hidapi.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "platform/hid_port.h"

namespace {

struct {
    int initResult = 0;
    std::vector<hid_device_info> listed;
    unsigned short ids[2] = {};  // asked for: vendor and product
    hid_device_info* freed = nullptr;
    std::string opened;  // the path
    bool openFails = false;
    int result = 0;  // of hid_write and hid_read_timeout
    int error = 0;   // errno of a failing call; 0 leaves errno alone
    const wchar_t* errorText = nullptr;
    std::vector<unsigned char> data;  // written, or to be read
    std::size_t length = 0;
    int timeout = 0;
    hid_device* used = nullptr;  // by the last write, read or close
    int closes = 0;
} hidapi;

int deviceStorage = 0;
hid_device* const kDevice = reinterpret_cast<hid_device*>(&deviceStorage);

template <typename T>
T finish(bool failed, T value) {
    if (failed && hidapi.error != 0) {
        errno = hidapi.error;
    }
    return value;
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
    hidapi.ids[0] = vendorId;
    hidapi.ids[1] = productId;
    for (std::size_t i = 0; i + 1 < hidapi.listed.size(); ++i) {
        hidapi.listed[i].next = &hidapi.listed[i + 1];
    }
    return hidapi.listed.empty() ? nullptr : hidapi.listed.data();
}
void hid_free_enumeration(hid_device_info* list) {
    hidapi.freed = list;
}
hid_device* hid_open_path(const char* path) {
    hidapi.opened = path;
    return finish(hidapi.openFails, hidapi.openFails ? nullptr : kDevice);
}
void hid_close(hid_device* device) {
    hidapi.used = device;
    ++hidapi.closes;
}
int hid_write(hid_device* device, const unsigned char* data, size_t length) {
    hidapi.used = device;
    hidapi.data.assign(data, data + length);
    return finish(hidapi.result < 0, hidapi.result);
}
int hid_read_timeout(hid_device* device, unsigned char* data, size_t length, int milliseconds) {
    hidapi.used = device;
    hidapi.length = length;
    hidapi.timeout = milliseconds;
    std::copy(hidapi.data.begin(), hidapi.data.end(), data);
    return finish(hidapi.result < 0, hidapi.result);
}
const wchar_t* hid_error(hid_device*) {
    return hidapi.errorText;
}
}

namespace velkora::platform {
namespace {

// First of all: the port initialises hidapi on first use, and tries again after a failure.
TEST(HidapiPort, ListsTheAdaptersInterfacesWithTheirStringsInUtf8) {
    hidapi.initResult = -1;
    EXPECT_THROW(systemHidPort().enumerate(), std::runtime_error);
    EXPECT_THROW(systemHidPort().open("/dev/hidraw0"), std::runtime_error);
    hidapi.initResult = 0;

    // USB strings arrive as UTF-32; one that is not Unicode counts as one that cannot be read.
    const std::pair<std::wstring, std::string> strings[] = {
        {L"Velkora Management Interface", "Velkora Management Interface"},
        {L"\x7F\x80\x7FF\x800", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
        {L"\xD7FF\xE000\xFFFF", "\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"},
        {L"\x10000\x10FFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {L"Ger\xE4t \x20AC \x1F50C", "Ger\xC3\xA4t \xE2\x82\xAC \xF0\x9F\x94\x8C"},
        {L"a\xD800", ""},
        {L"\xDFFF", ""},
        {std::wstring(1, static_cast<wchar_t>(0x110000)), ""},
    };
    const std::size_t n = std::size(strings);
    std::vector<std::wstring> texts;
    for (const auto& [text, utf8] : strings) {
        texts.push_back(text);
    }
    std::string paths[n];
    for (std::size_t i = 0; i < n; ++i) {
        paths[i] = "/dev/hidraw" + std::to_string(i);
        hid_device_info& entry = hidapi.listed.emplace_back();
        entry.path = paths[i].data();
        entry.product_string = texts[i].data();
        entry.manufacturer_string = texts[(i + 1) % n].data();
        entry.serial_number = texts[(i + 2) % n].data();
    }
    hidapi.listed.emplace_back();  // no path, no strings

    const std::vector<HidDeviceInfo> devices = systemHidPort().enumerate();

    EXPECT_EQ(hidapi.ids[0], 0x0483);
    EXPECT_EQ(hidapi.ids[1], 0xA5B9);
    ASSERT_EQ(devices.size(), n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        EXPECT_EQ(devices[i].path, paths[i]);
        EXPECT_EQ(devices[i].product, strings[i].second) << i;
        EXPECT_EQ(devices[i].manufacturer, strings[(i + 1) % n].second) << i;
        EXPECT_EQ(devices[i].serial, strings[(i + 2) % n].second) << i;
    }
    EXPECT_EQ(devices[n].path + devices[n].manufacturer + devices[n].product + devices[n].serial,
              "");
    EXPECT_EQ(hidapi.freed, hidapi.listed.data()) << "the list is handed back";
}

// A stale errno from before the call must not be taken for the call's own.
TEST(HidapiPort, OpensReadsWritesAndClosesAndNamesEachFailure) {
    hidapi.openFails = true;
    const std::tuple<int, const wchar_t*, std::string> openFailures[] = {
        {ENOENT, nullptr, "errno 2 (No such file or directory)"},
        {0, L"hidapi: gone \xE9", "hidapi: gone \xC3\xA9"},
        {0, nullptr, "errno 0"},
    };
    for (const auto& [error, text, detail] : openFailures) {
        hidapi.error = error;
        hidapi.errorText = text;
        errno = EINVAL;
        const HidOpenResult opened = systemHidPort().open("/dev/hidraw7");
        EXPECT_EQ(opened.connection, nullptr);
        EXPECT_EQ(opened.errorDetail, detail);
    }
    hidapi.openFails = false;
    HidOpenResult opened = systemHidPort().open("/dev/hidraw7");
    ASSERT_NE(opened.connection, nullptr);
    EXPECT_EQ(hidapi.opened, "/dev/hidraw7");

    // Each call: what hidapi returns with which errno, the time-out given and passed on, and how
    // the call ended: status, bytes and detail.
    hidapi.errorText = L"hidapi: failed";
    const auto ending = [](const HidIoResult& r) {
        return std::to_string(static_cast<int>(r.status)) + " " + std::to_string(r.bytes) + " " +
               r.errorDetail;
    };
    using S = HidIoResult::Status;
    const auto expected = [](S status, int bytes, std::string detail) {
        return std::to_string(static_cast<int>(status)) + " " + std::to_string(bytes) + " " +
               detail;
    };
    const std::vector<std::uint8_t> report(65, 0x5A);
    std::array<std::uint8_t, 65> buffer{};
    const struct {
        bool write;
        int result;
        int error;
        std::uint32_t timeoutMs;
        int passedMs;
        std::string ending;
    } calls[] = {
        {true, 65, 0, 1000, 0, expected(S::Completed, 65, "")},
        {true, 64, 0, 1000, 0, expected(S::Completed, 64, "")},
        {true, -1, ETIMEDOUT, 1000, 0, expected(S::TimedOut, 0, "")},
        {true, -1, EIO, 1000, 0, expected(S::Failed, 0, "errno 5")},
        {true, -1, 0, 1000, 0, expected(S::Failed, 0, "hidapi: failed")},
        {false, 65, 0, 1000, 1000, expected(S::Completed, 65, "")},
        {false, 64, 0, 0, 0, expected(S::Completed, 64, "")},
        {false, 0, 0, INT_MAX, INT_MAX, expected(S::TimedOut, 0, "")},
        {false, 0, 0, std::uint32_t{INT_MAX} + 1, INT_MAX, expected(S::TimedOut, 0, "")},
        {false, -1, EIO, 0xFFFFFFFF, INT_MAX, expected(S::Failed, 0, "errno 5")},
    };
    for (const auto& c : calls) {
        hidapi.result = c.result;
        hidapi.error = c.error;
        hidapi.timeout = 0;
        hidapi.data.assign(64, 0xC3);
        errno = EINVAL;
        const HidIoResult result = c.write ? opened.connection->write(report, c.timeoutMs)
                                           : opened.connection->read(buffer, c.timeoutMs);
        EXPECT_EQ(ending(result), c.ending) << c.write << " " << c.result;
        EXPECT_EQ(hidapi.timeout, c.passedMs);
        EXPECT_EQ(c.write ? hidapi.data == std::vector<unsigned char>(report.begin(), report.end())
                          : hidapi.length == buffer.size() && buffer[63] == 0xC3,
                  true);
    }
    // Without an error number, a failed read still says something.
    hidapi.result = -1;
    hidapi.error = 0;
    EXPECT_NE(opened.connection->read(buffer, 10).errorDetail, "");

    EXPECT_EQ(hidapi.used, kDevice);
    hidapi.used = nullptr;
    EXPECT_EQ(hidapi.closes, 0);
    opened.connection.reset();
    EXPECT_EQ(hidapi.closes, 1);
    EXPECT_EQ(hidapi.used, kDevice);
}

}  // namespace
}  // namespace velkora::platform
