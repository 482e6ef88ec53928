#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

#include "platform/hid_discovery.h"

namespace velkora::platform {
namespace {

using Entry = HidInterfaceListing::Entry;
using UsbStrings = HidInterfaceListing::UsbStrings;

// A listing written as a table: per index an interface path (with its strings, or none when
// the interface refuses even an open without access rights) or an unreadable entry.
class TableListing final : public HidInterfaceListing {
  public:
    struct Row {
        Entry::Kind kind;
        const char* path;
        std::optional<UsbStrings> strings;
    };
    explicit TableListing(std::vector<Row> rows) : rows_(std::move(rows)) {}

    Entry entryAt(std::uint32_t index) override {
        if (index >= rows_.size()) {
            return {Entry::Kind::EndOfList, {}};
        }
        return {rows_[index].kind, fromUtf8(rows_[index].path)};
    }
    std::optional<UsbStrings> usbStrings(const NativeString& path) override {
        stringReads.push_back(toUtf8(path));
        for (const Row& row : rows_) {
            if (fromUtf8(row.path) == path) {
                return row.strings;
            }
        }
        return std::nullopt;
    }

    std::vector<std::string> stringReads;

  private:
    std::vector<Row> rows_;
};

constexpr auto kInterface = Entry::Kind::Interface;
const char* const kBootloader = R"(\\?\HID#VID_0483&PID_A5B9&MI_00#7&2a1b3c4d&0&0000#{4d1e55b2})";
const char* const kSecondInterface =
    R"(\\?\hid#vid_0483&pid_a5b9&mi_01#7&2a1b3c4d&0&0001#{4d1e55b2})";
const char* const kMixedCase = R"(\\?\hid#Vid_0483&Pid_A5b9#8&11&0&0000#{4d1e55b2})";
const char* const kLocked = R"(\\?\hid#vid_0483&pid_a5b9#9&22&0&0000#{4d1e55b2})";

TEST(DiscoverAdapterInterfaces, ListsEveryInterfaceWithTheAdaptersIdsInListingOrder) {
    TableListing listing({
        {kInterface, kBootloader, UsbStrings{"STMicro", "Velkora Bootloader", "0042"}},
        {Entry::Kind::Unreadable, "", std::nullopt},
        {kInterface, R"(\\?\hid#vid_0483&pid_a5b8#1&1&0&0000#{4d1e55b2})", UsbStrings{}},
        {kInterface, kSecondInterface, UsbStrings{"STMicro", "Velkora Management Interface", ""}},
        {kInterface, R"(\\?\hid#vid_1234&pid_a5b9#1&1&0&0000#{4d1e55b2})", UsbStrings{}},
        {kInterface, kMixedCase, UsbStrings{"", "", ""}},
        {kInterface, kLocked, std::nullopt},
    });

    const std::vector<HidDeviceInfo> found = discoverAdapterInterfaces(listing);

    const struct {
        const char* path;
        const char* product;
        const char* serial;
    } expected[] = {
        {kBootloader, "Velkora Bootloader", "0042"},
        {kSecondInterface, "Velkora Management Interface", ""},
        {kMixedCase, "", ""},
        {kLocked, "", ""},
    };
    ASSERT_EQ(found.size(), std::size(expected));
    for (std::size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(expected[i].path);
        EXPECT_EQ(toUtf8(found[i].path), expected[i].path);  // letter case as listed
        EXPECT_EQ(found[i].product, expected[i].product);
        EXPECT_EQ(found[i].serial, expected[i].serial);
    }
    EXPECT_EQ(found[0].manufacturer, "STMicro");
    // Interfaces of other devices are not even opened.
    EXPECT_EQ(listing.stringReads.size(), std::size(expected));
}

TEST(DiscoverAdapterInterfaces, EmptyListingGivesNoRecords) {
    TableListing listing({});
    EXPECT_TRUE(discoverAdapterInterfaces(listing).empty());
}

}  // namespace
}  // namespace velkora::platform
