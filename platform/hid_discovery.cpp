#include "platform/hid_discovery.h"

#include <algorithm>

namespace velkora::platform {

bool pathNamesAdapter(const NativeString& path) {
    std::string lowered = toUtf8(path);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lowered.find(kAdapterDeviceIdPattern) != std::string::npos;
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
