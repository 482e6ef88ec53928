#include <gtest/gtest.h>

#include <optional>
#include <regex>

#include "platform/hid_discovery.h"
#include "platform/host.h"
#include "platform/new_file.h"
#include "tests/support/temp_folder.h"

#ifndef _WIN32
#include <unistd.h>

#include <cstdlib>
#endif

namespace velkora::platform {
namespace {

using Entry = HidInterfaceListing::Entry;
using UsbStrings = HidInterfaceListing::UsbStrings;

// A listing as a table of paths, null for an entry that cannot be read. Each interface it is
// asked about gives the strings ST, Velkora, 7, but one named "locked" refuses even an open without
// access rights.
struct TableListing final : HidInterfaceListing {
    Entry entryAt(std::uint32_t index) override {
        const char* path = index < rows.size() ? rows[index] : "";
        return {index >= rows.size() ? Entry::Kind::EndOfList
                : path               ? Entry::Kind::Interface
                                     : Entry::Kind::Unreadable,
                fromUtf8(path ? path : "")};
    }
    std::optional<UsbStrings> usbStrings(const NativeString& path) override {
        opened += toUtf8(path) + "\n";
        return path.ends_with(fromUtf8("locked")) ? std::nullopt
                                                  : std::optional(UsbStrings{"ST", "Velkora", "7"});
    }
    std::vector<const char*> rows;
    std::string opened;
};

// Interfaces of other devices are not even opened; an interface of the adapter's is listed even
// when its strings cannot be read, with the path exactly as the system gave it.
TEST(DiscoverAdapterInterfaces, ListsEveryInterfaceWithTheAdaptersIdsInListingOrder) {
    TableListing listing;
    listing.rows = {R"(\\?\HID#VID_0483&PID_A5B9&MI_00#7&2a&0)",
                    nullptr,
                    "hid#vid_0483&pid_a5b8#1",
                    "vid_1234&pid_a5b9",
                    "vid_0483&pid_a5b",
                    "x#Vid_0483&Pid_A5b9",
                    "vid_0483&pid_a5b9#locked"};
    std::string found;
    for (const HidDeviceInfo& device : discoverAdapterInterfaces(listing)) {
        found += toUtf8(device.path) + "|" + device.manufacturer + "|" + device.product + "|" +
                 device.serial + "\n";
    }
    EXPECT_EQ(found, R"(\\?\HID#VID_0483&PID_A5B9&MI_00#7&2a&0|ST|Velkora|7
x#Vid_0483&Pid_A5b9|ST|Velkora|7
vid_0483&pid_a5b9#locked|||
)");
    EXPECT_EQ(listing.opened, R"(\\?\HID#VID_0483&PID_A5B9&MI_00#7&2a&0
x#Vid_0483&Pid_A5b9
vid_0483&pid_a5b9#locked
)");
}

// A new file is made only where nothing is yet: whatever took the name in the meantime, a file,
// a folder or a link, is left as it was. A stale errno from before does not confuse the writing.
TEST(NewFile, IsCreatedOnlyWhereNothingIsYet) {
    testing::TempFolder folder;
    const auto at = [&folder](const char* name) { return folder.path() / name; };
    testing::writeFileText(at("taken"), "earlier fault log");
    std::filesystem::create_directory(at("folder"));
    errno = EINTR;
    EXPECT_EQ(writeNewFile(at("new"), std::string("fault\0log\n", 10)), NewFileResult::Written);
    EXPECT_EQ(testing::readFileText(at("new")), std::string("fault\0log\n", 10));
    EXPECT_EQ(writeNewFile(at("empty"), ""), NewFileResult::Written);
    EXPECT_TRUE(std::filesystem::is_regular_file(at("empty")));
    EXPECT_EQ(writeNewFile(at("taken"), "later"), NewFileResult::NameTaken);
    EXPECT_EQ(testing::readFileText(at("taken")), "earlier fault log");
    EXPECT_EQ(writeNewFile(at("folder"), "later"), NewFileResult::NameTaken);
    EXPECT_EQ(writeNewFile(at("none") / "x", "x"), NewFileResult::CannotCreate);
#ifndef _WIN32
    std::filesystem::create_symlink(at("target"), at("link"));
    EXPECT_EQ(writeNewFile(at("link"), "later"), NewFileResult::NameTaken);
    EXPECT_FALSE(std::filesystem::exists(at("target"))) << "the link was followed";
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
    EXPECT_EQ(systemHost().osVersionLine() + "\n", "OS version Linux " + release);
#endif
}

#ifndef _WIN32
// The guard is a lock on a regular file of the user's in the user's runtime folder, refused
// while held, and a link in its place is never followed. Without a usable runtime folder the
// lock lives in /tmp under a name of the user's own (which another updater may hold meanwhile).
TEST(SystemHost, TheGuardIsALockFileInTheUsersRuntimeFolder) {
    const char* const saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string original = saved ? saved : "";
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
    saved ? setenv("XDG_RUNTIME_DIR", original.c_str(), 1) : unsetenv("XDG_RUNTIME_DIR");
}
#endif

}  // namespace
}  // namespace velkora::platform
