// Linux: the listing over a sysfs laid out here, hidraw I/O over a socket pair; Windows:
// overlapped I/O on an unbuffered pipe.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>

#include "hid/hid_exchange.h"
#include "platform/clock.h"
#include "platform/console_encoding.h"
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
#include <fcntl.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "platform/posix/hidraw_connection.h"
#include "platform/posix/sysfs_hid_listing.h"
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

#ifndef _WIN32
// What `work` returns when run as in a program started with its standard input closed, whose
// next open gets descriptor 0.
template <typename Work>
auto withStandardInputClosed(Work work) {
    const int input = dup(0);
    close(0);
    const auto result = work();
    dup2(input, 0);
    close(input);
    return result;
}
#endif

// Others' interfaces are not opened; the adapter's are listed as given, strings read or not.
TEST(DiscoverAdapterInterfaces, ListsEveryInterfaceWithTheAdaptersIdsInListingOrder) {
    TableListing listing;
    listing.rows = {"HID#VID_0483&PID_A5B9",    "(unreadable)",
                    "vid_0483&pid_a5b8",        "vid_1234&pid_a5b9",
                    "vid_0483&pid_a5b",         "x#Vid_0483&Pid_A5b9",
                    "vid_0483&pid_a5b9#locked", "hid#vid_046d&pid_c52b&mi_02"};
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
    EXPECT_EQ(withStandardInputClosed([&] { return writeNewFile(at("zero"), "x"); }),
              NewFileResult::Written);
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
    EXPECT_EQ(withStandardInputClosed([] { return systemHost().claimSingleInstance().outcome; }),
              InstanceClaimOutcome::Acquired);
#endif
    {
        const InstanceClaim first = systemHost().claimSingleInstance();
        EXPECT_EQ(first.outcome, InstanceClaimOutcome::Acquired);
        EXPECT_EQ(systemHost().claimSingleInstance().outcome, InstanceClaimOutcome::AlreadyRunning);
    }
    EXPECT_EQ(systemHost().claimSingleInstance().outcome, InstanceClaimOutcome::Acquired);
}
#ifndef _WIN32

// The ticks are the monotonic clock's milliseconds; a signal that interrupts a sleep does not
// cut it short.
TEST(SystemClock, CountsMonotonicMillisecondsAndSleepsAsLongAsAsked) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t milliseconds = now.tv_sec * std::int64_t{1000} + now.tv_nsec / 1000000;
    EXPECT_LT(std::llabs(std::int64_t(systemClock().tickCount64()) - milliseconds), 500);
    std::signal(SIGALRM, [](int) {});
    const itimerval interrupt{{0, 0}, {0, 20000}};
    setitimer(ITIMER_REAL, &interrupt, nullptr);
    const std::uint64_t start = systemClock().tickCount64();
    systemClock().sleepMs(80);
    EXPECT_GE(systemClock().tickCount64() - start, 80u);
}

// The command-line program shows progress on standard error only when that is a terminal.
TEST(StandardError, CountsAsATerminalOnlyWhenItIsOne) {
    int other = -1;
    int terminal = -1;
    ASSERT_EQ(openpty(&other, &terminal, nullptr, nullptr, nullptr), 0);
    std::string seen;  // the last one puts standard error back
    for (const int fd : {terminal, open("/dev/null", O_WRONLY | O_CLOEXEC), dup(STDERR_FILENO)}) {
        dup2(fd, STDERR_FILENO);
        seen += standardErrorIsTerminal() ? "t" : "-";
        close(fd);
    }
    close(other);
    EXPECT_EQ(seen.substr(0, 2), "t-");
}

// A sysfs as the kernel lays it out: each node's class entry with its DEVNAME and a link to
// its HID device, which sits below a USB device's interface, or nowhere near one (uhid).
// Rows: node number, the HID device's folder, its uevent, and the USB device's attributes.
TEST(SysfsListing, ListsTheAdaptersNodesWithTheirUsbStringsInNodeOrder) {
    namespace fs = std::filesystem;
    testing::TempFolder sys;
    const std::string adapter = "HID_ID=0003:00000483:0000A5B9\nHID_NAME=Velkora Velkora Boot\n";
    const struct {
        int node;
        const char* device;  // below devices/; "" for a link whose device has gone
        std::string uevent;
        std::string usb = {};  // the USB device's attributes as "name=value" lines
    } nodes[] = {
        {10, "virtual/misc/uhid/0003:0483:A5B9.0004",
         "HID_ID=0003:00000483:0000a5b9\nHID_NAME=Velkora Management Interface\nHID_UNIQ=7\n"},
        {2, "pci0/usb1/1-1/1-1:1.0/0003:0483:A5B9.0001", adapter + "HID_UNIQ=X\n",
         "idVendor=0483\nidProduct=a5b9\nmanufacturer=Velkora\nproduct=Velkora Bootloader\n"
         "serial=2050384E3436\n"},
        {3, "pci0/usb1/1-2/1-2:1.0/0003:046D:C52B.0002", "HID_ID=0003:0000046D:0000C52B\n",
         "idVendor=046d\nidProduct=c52b\n"},
        {4, "", adapter},
        {5, "pci0/usb2/2-1/2-1:1.0/0003:0483:A5B9.0003", adapter,
         "idVendor=0483\nidProduct=a5b9\nmanufacturer=\xC3\x28\n"},
        {9, "virtual/misc/uhid/0003:0483:A5B9.0005",
         "HID_ID=0003:00000483:0000A5B9\nHID_UNIQ=\xFF\n"},
        {7, "virtual/misc/uhid/0003:0483:A5B9.0006", ""},  // its uevent fails to read
        {8, "virtual/misc/uhid/0003:0483:A5B9.0007", "HID_ID=0003:00000483\n"},
        {11, "virtual/misc/uhid/0003:0483:A5B9.0008", "HID_ID=0003:100000483:0000A5B9\n"},
    };
    for (const auto& n : nodes) {
        const fs::path entry = sys.path() / "class/hidraw" / ("hidraw" + std::to_string(n.node));
        const fs::path device = sys.path() / "devices" / (*n.device ? n.device : "gone/x");
        fs::create_directories(entry);
        testing::writeFileText(entry / "uevent",
                               "MAJOR=244\nDEVNAME=hidraw" + std::to_string(n.node) + "\n");
        fs::create_directory_symlink(device, entry / "device");
        if (*n.device) {
            fs::create_directories(device);
            // A folder fails the read after the open, as a vanishing device's file does.
            n.uevent.empty() ? void(fs::create_directories(device / "uevent"))
                             : testing::writeFileText(device / "uevent", n.uevent);
            std::istringstream usb(n.usb);
            for (std::string line; std::getline(usb, line);) {
                const std::size_t equals = line.find('=');
                testing::writeFileText(device.parent_path().parent_path() / line.substr(0, equals),
                                       line.substr(equals + 1) + "\n");
            }
        }
    }
    fs::create_directories(sys.path() / "class/hidraw/hidrawx");
    std::string found;  // listed with standard input closed, so attributes can get descriptor 0
    for (const HidDeviceInfo& device : withStandardInputClosed(
             [&] { return posix::listAdapterHidrawNodes(sys.path(), "/dev"); })) {
        found += device.path + "|" + device.manufacturer + "|" + device.product + "|" +
                 device.serial + "\n";
    }
    EXPECT_EQ(found,
              "/dev/hidraw2|Velkora|Velkora Bootloader|2050384E3436\n/dev/hidraw5|||\n"
              "/dev/hidraw9|||\n/dev/hidraw10||Velkora Management Interface|7\n");
    // A USB string must be well-formed UTF-8 (no overlong form, surrogate or code point past
    // U+10FFFF) to be shown. Rows: the first holds each smallest and largest code of a length.
    const fs::path manufacturer = sys.path() / "devices/pci0/usb1/1-1/manufacturer";
    for (const std::string text :
         {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80"
          "\xF4\x8F\xBF\xBF",
          "\x80", "\x81\x80\x80\x80", "\xC1\xBF", "\xC2", "\xC2\x41", "\xE0\xA0", "\xE0\x9F\xBF",
          "\xED\xA0\x80", "\xED\xBF\xBF", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80",
          "\xF5\x80\x80\x80"}) {
        testing::writeFileText(manufacturer, text + "\n");
        EXPECT_EQ(posix::listAdapterHidrawNodes(sys.path(), "/dev").at(0).manufacturer,
                  text.starts_with('\x7F') ? text : "")
            << ::testing::PrintToString(text);
    }
    testing::TempFolder empty;
    EXPECT_TRUE(posix::listAdapterHidrawNodes(empty.path(), "/dev").empty()) << "no HID device";
    testing::writeFileText(empty.path() / "class", "");
    EXPECT_THROW(posix::listAdapterHidrawNodes(empty.path(), "/dev"), std::runtime_error);
}

// A socket pair reads like a hidraw node: a report a read, EAGAIN when none waits, end of file
// once the device end has gone. Rows: reports waiting at once, and whether the first read
// says reports were lost: only a whole queue's worth, which the kernel holds at most, does.
TEST(HidrawConnection, HandsOverEveryReportInOrderAndTellsAFullQueue) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
    const int device = ends[1];
    auto connection = posix::makeHidrawConnection(ends[0]);
    std::uint8_t buffer[65] = {};
    const auto read = [&](std::uint32_t timeoutMs) {
        const HidIoResult r = connection->read(buffer, timeoutMs);
        return std::to_string(static_cast<int>(r.status)) + " " + std::to_string(r.bytes) + " " +
               std::to_string(buffer[0]) + (r.reportsLost ? " lost" : "") + r.errorDetail;
    };
    const std::vector<std::uint8_t> request(65, 0x5A);
    const std::uint64_t start = systemClock().tickCount64();
    EXPECT_EQ(read(20), "1 0 0") << "timed out";
    EXPECT_GE(systemClock().tickCount64() - start, 20u) << "after waiting for the time-out";
    for (const std::size_t waiting : {posix::kHidrawQueueReports - 1, posix::kHidrawQueueReports}) {
        for (std::size_t i = 0; i < waiting; ++i) {
            const std::uint8_t report[64] = {static_cast<std::uint8_t>(i + 1)};
            ASSERT_EQ(send(device, report, sizeof report, 0), 64);
        }
        const bool full = waiting == posix::kHidrawQueueReports;
        EXPECT_EQ(read(1000), full ? "0 64 1 lost" : "0 64 1");
        for (std::size_t i = 1; i < waiting; ++i) {
            ASSERT_EQ(read(0), "0 64 " + std::to_string(i + 1));
        }
    }
    EXPECT_EQ(connection->write(request, 1000).bytes, 65u);
    std::uint8_t received[100] = {};
    EXPECT_EQ(recv(device, received, sizeof received, 0), 65);
    const std::vector<std::uint8_t> wide(64, 0xAB);
    send(device, wide.data(), wide.size(), 0);
    send(device, "\5", 1, 0);
    EXPECT_EQ(read(1000), "0 64 171");
    EXPECT_EQ(read(1000), "0 1 5");
    EXPECT_EQ(buffer[1], 0) << "the rest of the buffer is cleared";
    const std::uint8_t last[64] = {7};
    send(device, last, sizeof last, 0);
    close(device);
    EXPECT_EQ(read(1000), "0 64 7") << "queued before the device went";
    EXPECT_EQ(read(1000), "4 0 7errno 19");
    EXPECT_EQ(read(1000), "4 0 7errno 19") << "and stays gone";
    EXPECT_EQ(connection->write(request, 1000).errorDetail, "errno 32");
}

// An adapter only just there is refused until udev's rule opens its node; any other failure,
// and a refusal that lasts, is named by its errno and text.
TEST(HidrawConnection, OpensARefusedNodeOnceItsRuleApplies) {
    int refusals = 2;
    std::vector<std::string> tried;
    const auto opener = [&](const char* path) {
        tried.push_back(path);
        if (refusals > 0) {
            errno = refusals-- % 2 == 0 ? EPERM : EACCES;
            return -1;
        }
        return ::open("/dev/null", O_RDWR | O_CLOEXEC);
    };
    EXPECT_NE(posix::openHidrawNode("/dev/hidraw7", opener).connection, nullptr);
    EXPECT_EQ(tried, std::vector<std::string>(3, "/dev/hidraw7"));
    EXPECT_EQ(posix::openHidrawNode(
                  "/dev/hidraw9", [](const char* path) { return ::open(path, O_RDWR | O_CLOEXEC); })
                  .errorDetail,
              "errno 2 (No such file or directory)");
    const std::uint64_t start = systemClock().tickCount64();
    const auto refuse = [](const char*) { return errno = EACCES, -1; };
    EXPECT_EQ(
        posix::openHidrawNode("/dev/hidraw7", refuse, std::chrono::milliseconds(100)).errorDetail,
        "errno 13 (Permission denied)");
    EXPECT_GE(systemClock().tickCount64() - start, 100u);
}

#else

// A message pipe for a device: the device end synchronous (the host end's closing ends its I/O).
std::pair<HANDLE, HANDLE> devicePipe(const std::wstring& name, DWORD bufferBytes) {
    const std::wstring path = L"\\\\.\\pipe\\" + name + std::to_wstring(GetCurrentProcessId());
    HANDLE device = CreateNamedPipeW(path.c_str(), PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                     bufferBytes, bufferBytes, 0, nullptr);
    HANDLE host = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    DWORD mode = PIPE_READMODE_MESSAGE;
    EXPECT_TRUE(SetNamedPipeHandleState(host, &mode, nullptr, nullptr));
    return {device, host};
}

TEST(OverlappedConnection, TimesOutCancelsAndGoesOnWithoutLosingOrRepeatingAReport) {
    const auto [device, host] = devicePipe(L"velkora-test-", 0);
    HidHandle handle(platform::win32::makeOverlappedConnection(host, 65, 32),
                     platform::systemClock());
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

// What the system queued comes out together: one read returns as many reports as its buffer
// holds, cut at the report length, and a take of every report the system can hold says that
// reports may have been lost. Rows: reports waiting in one message of the device end.
TEST(OverlappedConnection, TakesQueuedReportsTogetherAndTellsAFullQueue) {
    const auto [device, host] = devicePipe(L"velkora-queue-", 4096);
    const auto connection = platform::win32::makeOverlappedConnection(host, 65, 4);
    std::uint8_t buffer[65] = {};
    const auto read = [&] {
        const HidIoResult r = connection->read(buffer, 5000);
        return std::to_string(r.bytes) + " " + std::to_string(buffer[1]) +
               (r.reportsLost ? " lost" : "");
    };
    for (const std::size_t waiting : {std::size_t{3}, std::size_t{4}}) {
        std::vector<std::uint8_t> message(65 * waiting);
        for (std::size_t i = 0; i < waiting; ++i) {
            message[i * 65 + 1] = static_cast<std::uint8_t>(i + 1);
        }
        DWORD sent = 0;
        ASSERT_TRUE(
            WriteFile(device, message.data(), static_cast<DWORD>(message.size()), &sent, nullptr));
        EXPECT_EQ(read(), waiting == 4 ? "65 1 lost" : "65 1");
        for (std::size_t i = 1; i < waiting; ++i) {
            EXPECT_EQ(read(), "65 " + std::to_string(i + 1));
        }
    }
    CloseHandle(device);
}

#endif

}  // namespace
}  // namespace velkora::platform
