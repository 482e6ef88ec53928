// Linux: the port over a hidapi played here; Windows: overlapped I/O on an unbuffered pipe.
#include <gtest/gtest.h>

#include <optional>

#include "hid/hid_exchange.h"
#include "platform/clock.h"
#include "platform/hid_discovery.h"
#include "platform/host.h"
#include "platform/new_file.h"
#include "tests/support/outcome.h"
#include "tests/support/scripted_hid_port.h"
#include "tests/support/test_files.h"

#ifdef _WIN32
#include <windows.h>

#include <thread>

#include "platform/win32/overlapped_connection.h"
#else
#include <hidapi/hidapi.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>

namespace {

// What hidapi answers, and the calls the port made, one a line.
struct {
    int initResult = 0;
    std::vector<hid_device_info> listed;
    int result = 0;      // of a write or a read; an open fails when it is negative
    int plainRead = -1;  // of a read without a time-out
    int error = 0;       // errno of a failing call; 0 leaves errno alone
    const wchar_t* errorText = nullptr;
    std::string calls;
    int refusals = 0;  // opens refused first, as before udev grants the node to the user
} hidapi;

int deviceStorage = 0;
hid_device* const kDevice = reinterpret_cast<hid_device*>(&deviceStorage);

// Notes the call; a failing one sets errno as told.
int call(const std::string& what, hid_device* device, int result) {
    hidapi.calls += what + (device == kDevice ? "\n" : " of another device\n");
    if (result < 0 && hidapi.error != 0) {
        errno = hidapi.error;
    }
    return result;
}

}  // namespace

extern "C" {
int hid_init() {
    return hidapi.initResult;
}
hid_device_info* hid_enumerate(unsigned short vendorId, unsigned short productId) {
    for (std::size_t i = 0; i + 1 < hidapi.listed.size(); ++i) {
        hidapi.listed[i].next = &hidapi.listed[i + 1];
    }
    call("enumerate " + std::to_string(vendorId) + ":" + std::to_string(productId), kDevice, 0);
    return hidapi.listed.empty() ? nullptr : hidapi.listed.data();
}
void hid_free_enumeration(hid_device_info* list) {
    call(list == hidapi.listed.data() ? "free" : "free another list", kDevice, 0);
}
hid_device* hid_open_path(const char* path) {
    if (hidapi.refusals > 0) {
        errno = hidapi.refusals-- % 2 == 0 ? EPERM : EACCES;
        hidapi.calls += "refused\n";
        return nullptr;
    }
    return call("open " + std::string(path), kDevice, hidapi.result) < 0 ? nullptr : kDevice;
}
void hid_close(hid_device* device) {
    call("close", device, 0);
}
int hid_write(hid_device* device, const unsigned char*, size_t length) {
    return call("write " + std::to_string(length), device, hidapi.result);
}
int hid_read_timeout(hid_device* device, unsigned char* data, size_t length, int milliseconds) {
    data[length - 1] = 0xC3;
    return call("read " + std::to_string(length) + " " + std::to_string(milliseconds), device,
                hidapi.result);
}
int hid_read(hid_device* device, unsigned char*, size_t length) {
    return call("plain read " + std::to_string(length), device, hidapi.plainRead);
}
const wchar_t* hid_error(hid_device*) {
    return hidapi.errorText;
}
}

#endif

namespace velkora::platform {
namespace {

using Entry = HidInterfaceListing::Entry;
using UsbStrings = HidInterfaceListing::UsbStrings;

// A listing of paths; each interface gives the strings ST, Velkora, 7, but "locked" refuses.
struct TableListing final : HidInterfaceListing {
    Entry entryAt(std::uint32_t index) override {
        const std::string path = index < rows.size() ? rows[index] : "";
        return {index >= rows.size()     ? Entry::Kind::EndOfList
                : path == "(unreadable)" ? Entry::Kind::Unreadable
                                         : Entry::Kind::Interface,
                fromUtf8(path)};
    }
    std::optional<UsbStrings> usbStrings(const NativeString& path) override {
        ++opened;
        return path.ends_with(fromUtf8("locked")) ? std::nullopt
                                                  : std::optional(UsbStrings{"ST", "Velkora", "7"});
    }
    std::vector<std::string> rows;
    int opened = 0;
};

// Others' interfaces are not opened; the adapter's are listed as given, strings read or not.
TEST(DiscoverAdapterInterfaces, ListsEveryInterfaceWithTheAdaptersIdsInListingOrder) {
    TableListing listing;
    listing.rows = {"HID#VID_0483&PID_A5B9",   "(unreadable)",     "vid_0483&pid_a5b8",
                    "vid_1234&pid_a5b9",       "vid_0483&pid_a5b", "x#Vid_0483&Pid_A5b9",
                    "vid_0483&pid_a5b9#locked"};
    std::string found;
    for (const HidDeviceInfo& device : discoverAdapterInterfaces(listing)) {
        found += toUtf8(device.path) + "|" + device.manufacturer + "|" + device.product + "|" +
                 device.serial + "\n";
    }
    EXPECT_EQ(found,
              "HID#VID_0483&PID_A5B9|ST|Velkora|7\nx#Vid_0483&Pid_A5b9|ST|Velkora|7\n"
              "vid_0483&pid_a5b9#locked|||\n");
    EXPECT_EQ(listing.opened, 3);
}

// A new file only where nothing is, whatever a stale errno says; what is there stays as it was.
TEST(NewFile, IsCreatedOnlyWhereNothingIsYet) {
    testing::TempFolder folder;
    const auto at = [&folder](const char* name) { return folder.path() / name; };
    testing::writeFileText(at("taken"), "earlier fault log");
    std::filesystem::create_directory(at("folder"));
    errno = EINTR;
    EXPECT_EQ(writeNewFile(at("new"), std::string("fault\0log\n", 10)), NewFileResult::Written);
    EXPECT_EQ(testing::readFileText(at("new")), std::string("fault\0log\n", 10));
    EXPECT_EQ(writeNewFile(at("empty"), ""), NewFileResult::Written);
    EXPECT_EQ(writeNewFile(at("taken"), "later"), NewFileResult::NameTaken);
    EXPECT_EQ(testing::readFileText(at("taken")), "earlier fault log");
    EXPECT_EQ(writeNewFile(at("folder"), "later"), NewFileResult::NameTaken);
    EXPECT_EQ(writeNewFile(at("none") / "x", "x"), NewFileResult::CannotCreate);
#ifndef _WIN32
    // A program started with its standard input closed gets descriptor 0 for the file.
    const int input = dup(0);
    close(0);
    EXPECT_EQ(writeNewFile(at("zero"), "x"), NewFileResult::Written);
    dup2(input, 0);
    close(input);
    std::filesystem::create_symlink(at("target"), at("link"));
    EXPECT_EQ(writeNewFile(at("link"), "later"), NewFileResult::NameTaken);
    EXPECT_FALSE(std::filesystem::exists(at("target"))) << "the link was followed";
#endif
}

TEST(SystemHost, NamesTheProgramsFolderAndTheSystem) {
    const std::filesystem::path program = ::testing::internal::GetArgvs()[0];
    EXPECT_TRUE(
        std::filesystem::equivalent(systemHost().programFolder() / program.filename(), program));
#ifndef _WIN32
    const std::string release = testing::readFileText("/proc/sys/kernel/osrelease");
    EXPECT_EQ(systemHost().osVersionLine() + "\n", "OS version Linux " + release);
#endif
}

// One claim at a time, and the claim ends with its guard: the session's named mutex on
// Windows; elsewhere a file locked in the user's runtime folder, or when that is no folder
// named absolutely, in /tmp (which another updater may hold).
TEST(SystemHost, GrantsOneClaimAtATime) {
#ifndef _WIN32
    testing::TempFolder runtime;
    const std::filesystem::path lock = runtime.path() / "velkora-firmware-updater.lock";
    testing::writeFileText(runtime.path() / "file", "");
    for (const std::string& setting :
         {std::string("unset"), std::string(), std::filesystem::relative(runtime.path()).string(),
          (runtime.path() / "file").string(), runtime.path().string()}) {
        setting == "unset" ? unsetenv("XDG_RUNTIME_DIR")
                           : setenv("XDG_RUNTIME_DIR", setting.c_str(), 1);
        EXPECT_NE(systemHost().claimSingleInstance().outcome, InstanceClaimOutcome::Failed);
        EXPECT_EQ(std::filesystem::exists(lock), setting == runtime.path().string()) << setting;
    }
    EXPECT_TRUE(std::filesystem::is_regular_file("/tmp/velkora-firmware-updater-" +
                                                 std::to_string(getuid()) + ".lock"));
#endif
    {
        const InstanceClaim first = systemHost().claimSingleInstance();
        EXPECT_EQ(first.outcome, InstanceClaimOutcome::Acquired);
        EXPECT_EQ(systemHost().claimSingleInstance().outcome, InstanceClaimOutcome::AlreadyRunning);
    }
    EXPECT_EQ(systemHost().claimSingleInstance().outcome, InstanceClaimOutcome::Acquired);
}
#ifndef _WIN32

// A signal that interrupts a sleep does not cut it short.
TEST(SystemClock, SleepsAsLongAsAsked) {
    std::signal(SIGALRM, [](int) {});
    const itimerval interrupt{{0, 0}, {0, 20000}};
    setitimer(ITIMER_REAL, &interrupt, nullptr);
    const std::uint64_t start = systemClock().tickCount64();
    systemClock().sleepMs(80);
    EXPECT_GE(systemClock().tickCount64() - start, 80u);
}

// Initialised on first use, again after a failure; a UTF-32 string that is no Unicode is empty.
TEST(HidapiPort, ListsTheAdaptersInterfacesWithTheirStringsInUtf8) {
    hidapi.initResult = -1;
    EXPECT_THROW(systemHidPort().enumerate(), std::runtime_error);
    EXPECT_THROW(systemHidPort().open("/dev/hidraw0"), std::runtime_error);
    hidapi.initResult = 0;
    std::wstring texts[] = {L"Velkora \x7F\x80\x7FF\x800\xD7FF\xE000\xFFFF\x10000\x1F50C\x10FFFF",
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
    const std::string edges =
        "Velkora "
        "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF0"
        "\x9F\x94\x8C\xF4\x8F\xBF\xBF";
    EXPECT_EQ(found,
              "/dev/hidraw3|" + edges + "||\n/dev/hidraw3||Ger\xC3\xA4t|" + edges + "\n|||\n");
    EXPECT_EQ(hidapi.calls, "enumerate 1155:42425\nfree\n");
}

// Rows: the call (an open, a write or a read with its time-out), what hidapi returns, the errno
// it sets (0: none) and its own text, what a plain read returns, then the calls made and the
// outcome. Failures are named by the call's own errno, else hidapi's text. A read that fails
// without an errno has met a device that is gone: one plain read still collects an answer
// queued before the hang-up, else the failure reads as ENODEV.
TEST(HidapiPort, OpensReadsWritesAndClosesAndNamesEachFailure) {
    const wchar_t* const failed = L"hidapi: failed";
    const struct {
        char call;
        int result;
        int error;
        const wchar_t* text;
        std::uint32_t timeoutMs;
        int plainRead;
        std::string ending;
    } calls[] = {
        {'o', -1, ENOENT, failed, 0, -1, "open /dev/hidraw7\nerrno 2 (No such file or directory)"},
        {'o', -1, 0, L"hidapi: gone \xE9", 0, -1, "open /dev/hidraw7\nhidapi: gone \xC3\xA9"},
        {'o', -1, 0, nullptr, 0, -1, "open /dev/hidraw7\nerrno 0"},
        {'o', 0, 0, nullptr, 0, -1, "open /dev/hidraw7\nopened"},
        {'w', 65, 0, failed, 1000, -1, "write 65\nCompleted 65 "},
        {'w', 0, 0, failed, 1000, -1, "write 65\nCompleted 0 "},
        {'w', -1, ETIMEDOUT, failed, 1000, -1, "write 65\nTimedOut 0 "},
        {'w', -1, EIO, failed, 1000, -1, "write 65\nFailed 0 errno 5"},
        {'w', -1, 0, failed, 1000, -1, "write 65\nFailed 0 hidapi: failed"},
        {'r', 64, 0, failed, 0, -1, "read 65 0\nCompleted 64 "},
        {'r', 0, 0, failed, INT_MAX, -1, "read 65 2147483647\nTimedOut 0 "},
        {'r', 0, 0, failed, std::uint32_t{INT_MAX} + 1, -1, "read 65 2147483647\nTimedOut 0 "},
        {'r', -1, EIO, failed, 0xFFFFFFFF, -1, "read 65 2147483647\nFailed 0 errno 5"},
        {'r', -1, 0, failed, 1000, 64, "read 65 1000\nplain read 65\nCompleted 64 "},
        {'r', -1, 0, failed, 1000, -1, "read 65 1000\nplain read 65\nFailed 0 errno 19"}};
    const char* const statuses[] = {"Completed", "TimedOut", "EventFailed", "WaitFailed", "Failed"};
    const std::vector<std::uint8_t> report(65, 0x5A);
    std::uint8_t buffer[65] = {};
    std::unique_ptr<HidConnection> connection;
    for (const auto& c : calls) {
        hidapi = {0, {}, c.result, c.plainRead, c.error, c.text, ""};
        errno = EINVAL;
        std::string outcome;
        if (c.call == 'o') {
            HidOpenResult opened = systemHidPort().open("/dev/hidraw7");
            outcome = opened.connection ? "opened" : opened.errorDetail;
            connection = std::move(opened.connection);
        } else {
            ASSERT_NE(connection, nullptr);
            const HidIoResult r = c.call == 'w' ? connection->write(report, c.timeoutMs)
                                                : connection->read(buffer, c.timeoutMs);
            outcome = std::string(statuses[static_cast<int>(r.status)]) + " " +
                      std::to_string(r.bytes) + " " + r.errorDetail;
        }
        EXPECT_EQ(hidapi.calls + outcome, c.ending);
    }
    EXPECT_EQ(buffer[64], 0xC3) << "read into the caller's buffer";
    hidapi = {0, {}, 0, -1, 0, nullptr, "", 2};  // an adapter only just there is retried
    connection = systemHidPort().open("/dev/hidraw7").connection;  // closing the one before
    connection.reset();
    EXPECT_EQ(hidapi.calls, "refused\nrefused\nopen /dev/hidraw7\nclose\nclose\n");
}

#else

TEST(OverlappedConnection, TimesOutCancelsAndGoesOnWithoutLosingOrRepeatingAReport) {
    const std::wstring name =
        L"\\\\.\\pipe\\velkora-test-" + std::to_wstring(GetCurrentProcessId());
    // The device end is synchronous: the host end's closing ends any read or write on it.
    HANDLE device = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 0, 0,
                                     0, nullptr);
    HANDLE host = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    DWORD mode = PIPE_READMODE_MESSAGE;
    ASSERT_TRUE(SetNamedPipeHandleState(host, &mode, nullptr, nullptr));
    HidHandle handle(platform::win32::makeOverlappedConnection(host), platform::systemClock());
    const auto receive = [&] {
        testing::Report report(256);
        DWORD got = 0;
        report.resize(ReadFile(device, report.data(), 256, &got, nullptr) ? got : 0);
        return report;
    };
    const auto answer = [&](const testing::Report& request, bool withReportId = true) {
        const testing::Report report =
            testing::responseReport(request.at(5), request.at(6), 0, {}, withReportId);
        DWORD sent = 0;
        WriteFile(device, report.data(), static_cast<DWORD>(report.size()), &sent, nullptr);
    };
    // Set by the host when it has given up reading, and again writing; the device waits for it
    // with patience.
    HANDLE hostGaveUp = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::vector<std::size_t> received;  // the first request's size, then the sequences read
    std::thread player([&] {
        const testing::Report first = receive();
        received.push_back(first.size());
        answer(first);
        answer(receive(), false);
        const testing::Report unanswered = receive();
        WaitForSingleObject(hostGaveUp, 10000);
        answer(unanswered);
        WaitForSingleObject(hostGaveUp, 10000);
        for (int i = 0; i < 2; ++i) {
            const testing::Report request = receive();
            received.push_back(request.at(6));
            i == 0 ? answer(request) : (void)CloseHandle(device);  // then unplugged
        }
    });
    HidResponse response;
    const auto exchange = [&](std::uint8_t sequence, std::uint32_t timeoutMs) {
        return testing::outcomeOf(
            [&] { response = hidExchange(handle, 3, sequence, {}, timeoutMs); });
    };
    EXPECT_EQ(exchange(1, 5000), "");
    EXPECT_EQ(response.length, 65u) << "with the report ID";
    EXPECT_EQ(exchange(2, 5000), "");
    EXPECT_EQ(response.length, 64u) << "without";
    EXPECT_EQ(exchange(3, 100), "Timed out reading HID response.");
    SetEvent(hostGaveUp);
    std::array<std::uint8_t, kReportSize> late{};
    EXPECT_EQ(hidReadReport(handle, late, 5000), kReportSize) << "the late answer is still read";
    EXPECT_EQ(late[6], 3);
    EXPECT_EQ(exchange(4, 100), "Timed out writing HID report.");
    SetEvent(hostGaveUp);
    EXPECT_EQ(exchange(5, 5000), "");
    EXPECT_EQ(exchange(6, 5000), "HID read failed (Windows error 109).");
    EXPECT_EQ(exchange(7, 5000), "HID write failed.");
    handle.close();  // ends the device's wait, should the test have gone wrong
    player.join();
    CloseHandle(hostGaveUp);
    EXPECT_EQ(received, (std::vector<std::size_t>{65, 5, 6})) << "the cancelled write left nothing";
    // A stray surrogate becomes U+FFFD: an emptied serial number would match any adapter's.
    EXPECT_EQ(platform::toUtf8(L"\u00E4 \xD83D\xDD0C a\xD800 \xDC00z"),
              "\xC3\xA4 \xF0\x9F\x94\x8C a\xEF\xBF\xBD \xEF\xBF\xBDz");
    EXPECT_EQ(platform::fromUtf8("\xC3\xA4 \xF0\x9F\x94\x8C"), L"\u00E4 \xD83D\xDD0C");
}

#endif

}  // namespace
}  // namespace velkora::platform
