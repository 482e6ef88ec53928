#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <regex>

#include "platform/clock.h"
#include "platform/hid_discovery.h"
#include "platform/host.h"
#include "platform/new_file.h"
#include "tests/support/temp_folder.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#endif

namespace velkora::platform {
namespace {

using Entry = HidInterfaceListing::Entry;
using UsbStrings = HidInterfaceListing::UsbStrings;

// A listing as a table: per index a path, with the strings its interface gives (none when it
// refuses even an open without access rights), or null for an entry that cannot be read.
struct TableListing final : HidInterfaceListing {
    explicit TableListing(std::vector<std::pair<const char*, std::optional<UsbStrings>>> table)
        : rows(std::move(table)) {}
    Entry entryAt(std::uint32_t index) override {
        if (index >= rows.size()) {
            return {Entry::Kind::EndOfList, {}};
        }
        const char* path = rows[index].first;
        return {path ? Entry::Kind::Interface : Entry::Kind::Unreadable,
                fromUtf8(path ? path : "")};
    }
    std::optional<UsbStrings> usbStrings(const NativeString& path) override {
        opened.push_back(toUtf8(path));
        for (const auto& [rowPath, strings] : rows) {
            if (rowPath && fromUtf8(rowPath) == path) {
                return strings;
            }
        }
        return std::nullopt;
    }
    std::vector<std::pair<const char*, std::optional<UsbStrings>>> rows;
    std::vector<std::string> opened;
};

TEST(DiscoverAdapterInterfaces, ListsEveryInterfaceWithTheAdaptersIdsInListingOrder) {
    const char* const bootloader = R"(\\?\HID#VID_0483&PID_A5B9&MI_00#7&2a1b&0&0000#{4d1e55b2})";
    const char* const management = R"(\\?\hid#vid_0483&pid_a5b9&mi_01#7&2a1b&0&0001#{4d1e55b2})";
    const char* const mixedCase = R"(\\?\hid#Vid_0483&Pid_A5b9#8&11&0&0000#{4d1e55b2})";
    const char* const locked = "vid_0483&pid_a5b9";
    TableListing listing({{bootloader, UsbStrings{"STMicro", "Velkora Bootloader", "0042"}},
                          {nullptr, {}},
                          {R"(\\?\hid#vid_0483&pid_a5b8#1&1&0&0000#{4d1e55b2})", UsbStrings{}},
                          {management, UsbStrings{"", "Velkora Management Interface", ""}},
                          {"vid_1234&pid_a5b9", UsbStrings{}},
                          {"vid_0483&pid_a5b", UsbStrings{}},
                          {mixedCase, UsbStrings{}},
                          {locked, std::nullopt}});
    std::string found;
    for (const HidDeviceInfo& device : discoverAdapterInterfaces(listing)) {
        found += toUtf8(device.path) + "|" + device.manufacturer + "|" + device.product + "|" +
                 device.serial + "\n";
    }
    EXPECT_EQ(found, std::string(bootloader) + "|STMicro|Velkora Bootloader|0042\n" + management +
                         "||Velkora Management Interface|\n" + mixedCase + "|||\n" + locked +
                         "|||\n");
    EXPECT_EQ(listing.opened, (std::vector<std::string>{bootloader, management, mixedCase, locked}))
        << "interfaces of other devices are not opened";
}

// A new file is made only where nothing is yet: whatever took the name in the meantime, a file,
// a folder or a link, is left as it was. A stale errno from before does not confuse the writing.
TEST(NewFile, IsCreatedOnlyWhereNothingIsYet) {
    testing::TempFolder folder;
    const auto at = [&folder](const char* name) { return folder.path() / name; };
    testing::writeFileText(at("taken.txt"), "earlier fault log");
    std::filesystem::create_directory(at("folder"));
    errno = EINTR;
    EXPECT_EQ(writeNewFile(at("new.txt"), std::string("fault\0log\n", 10)), NewFileResult::Written);
    EXPECT_EQ(testing::readFileText(at("new.txt")), std::string("fault\0log\n", 10));
    EXPECT_EQ(writeNewFile(at("empty.txt"), ""), NewFileResult::Written);
    EXPECT_TRUE(std::filesystem::is_regular_file(at("empty.txt")));
    EXPECT_EQ(writeNewFile(at("taken.txt"), "later"), NewFileResult::NameTaken);
    EXPECT_EQ(testing::readFileText(at("taken.txt")), "earlier fault log");
    EXPECT_EQ(writeNewFile(at("folder"), "later"), NewFileResult::NameTaken);
    EXPECT_EQ(writeNewFile(at("none") / "x.txt", "x"), NewFileResult::CannotCreate);
#ifndef _WIN32
    std::filesystem::create_symlink(at("target.txt"), at("link.txt"));
    EXPECT_EQ(writeNewFile(at("link.txt"), "later"), NewFileResult::NameTaken);
    EXPECT_FALSE(std::filesystem::exists(at("target.txt"))) << "the link was followed";
#endif
}

TEST(SystemHost, NamesTheProgramsFolderAndTheSystem) {
    const std::filesystem::path program = ::testing::internal::GetArgvs()[0];
    EXPECT_TRUE(
        std::filesystem::equivalent(systemHost().programFolder() / program.filename(), program));
#ifdef _WIN32
    EXPECT_TRUE(std::regex_match(systemHost().osVersionLine(),
                                 std::regex(R"(Windows version \d+\.\d+\.\d+)")));
#else
    const std::string release = testing::readFileText("/proc/sys/kernel/osrelease");
    EXPECT_EQ(systemHost().osVersionLine(),
              "OS version Linux " + release.substr(0, release.find('\n')));
#endif
}

#ifndef _WIN32
// Each claim in its own runtime folder: a lock on a regular file of the user's, refused while
// held and anything else in its place refused, never followed. Without a usable runtime folder
// the lock lives in /tmp under a name of the user's own.
TEST(SystemHost, TheGuardIsALockOnARegularFileInTheUsersRuntimeFolder) {
    const char* const saved = std::getenv("XDG_RUNTIME_DIR");
    const std::optional<std::string> original =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    testing::TempFolder runtime;
    const std::filesystem::path lock = runtime.path() / "velkora-firmware-updater.lock";
    testing::writeFileText(runtime.path() / "file", "");
    const std::optional<std::string> settings[] = {
        std::nullopt, "", std::filesystem::relative(runtime.path()).string(),
        (runtime.path() / "file").string(), runtime.path().string()};
    for (const std::optional<std::string>& setting : settings) {
        setting ? setenv("XDG_RUNTIME_DIR", setting->c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
        const InstanceClaim claim = systemHost().claimSingleInstance();
        EXPECT_NE(claim.outcome, InstanceClaimOutcome::Failed) << setting.value_or("unset");
        EXPECT_EQ(std::filesystem::exists(lock), setting == settings[4]) << "held by another?";
    }
    EXPECT_TRUE(std::filesystem::is_regular_file("/tmp/velkora-firmware-updater-" +
                                                 std::to_string(getuid()) + ".lock"));
    {
        const InstanceClaim first = systemHost().claimSingleInstance();
        EXPECT_EQ(first.outcome, InstanceClaimOutcome::Acquired);
        EXPECT_EQ(systemHost().claimSingleInstance().outcome, InstanceClaimOutcome::AlreadyRunning);
    }
    EXPECT_EQ(systemHost().claimSingleInstance().outcome, InstanceClaimOutcome::Acquired);
    std::filesystem::remove(lock);
    std::filesystem::create_symlink(runtime.path() / "target", lock);
    EXPECT_EQ(systemHost().claimSingleInstance().outcome, InstanceClaimOutcome::Failed);
    EXPECT_FALSE(std::filesystem::exists(runtime.path() / "target"));
    std::filesystem::remove(lock);
    mkfifo(lock.c_str(), 0600);
    EXPECT_EQ(systemHost().claimSingleInstance().outcome, InstanceClaimOutcome::Failed);
    original ? setenv("XDG_RUNTIME_DIR", original->c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
}

std::uint64_t steadyMilliseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// The tick counts are the monotonic clock in milliseconds; a sleep lasts at least as long as
// asked, even when a signal interrupts it.
TEST(SystemClock, TicksAreMonotonicMillisecondsAndSleepsAreNotCutShort) {
    Clock& clock = systemClock();
    const std::uint64_t before = steadyMilliseconds();
    const std::uint64_t ticks = clock.tickCount64();
    const std::uint32_t ticks32 = clock.tickCount32();
    const std::uint64_t after = steadyMilliseconds();
    EXPECT_TRUE(before <= ticks && ticks <= after &&
                ticks32 - static_cast<std::uint32_t>(ticks) <= after - ticks);
    EXPECT_LE(std::abs(static_cast<long long>(clock.calendarTime() - std::time(nullptr))), 1);

    struct sigaction ignore {};
    ignore.sa_handler = [](int) {};
    sigaction(SIGALRM, &ignore, nullptr);
    const itimerval interrupt{{0, 0}, {0, 20000}};
    setitimer(ITIMER_REAL, &interrupt, nullptr);
    clock.sleepMs(80);
    EXPECT_GE(steadyMilliseconds() - after, 80u);
}
#endif

}  // namespace
}  // namespace velkora::platform
