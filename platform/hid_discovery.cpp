#include "platform/hid_discovery.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace velkora::platform {

bool pathNamesAdapter(const NativeString& path) {
    char pattern[20];
    std::snprintf(pattern, sizeof(pattern), "vid_%04x&pid_%04x", kAdapterVendorId,
                  kAdapterProductId);
    const std::string text = toUtf8(path);
    const std::string_view wanted(pattern);
    // The updater never changes the C locale, in which tolower touches only A to Z.
    return std::search(text.begin(), text.end(), wanted.begin(), wanted.end(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           }) != text.end();
}

std::vector<HidDeviceInfo> discoverAdapterInterfaces(HidInterfaceListing& listing) {
    std::vector<HidDeviceInfo> result;
    for (std::uint32_t index = 0;; ++index) {
        HidInterfaceListing::Entry entry = listing.entryAt(index);
        if (entry.kind == HidInterfaceListing::Entry::Kind::EndOfList) {
            return result;
        }
        if (entry.kind == HidInterfaceListing::Entry::Kind::Unreadable ||
            !pathNamesAdapter(entry.path)) {
            continue;
        }
        HidDeviceInfo record;
        record.path = std::move(entry.path);
        if (std::optional<HidInterfaceListing::UsbStrings> strings =
                listing.usbStrings(record.path)) {
            record.manufacturer = std::move(strings->manufacturer);
            record.product = std::move(strings->product);
            record.serial = std::move(strings->serial);
        }
        result.push_back(std::move(record));
    }
}

}  // namespace velkora::platform
