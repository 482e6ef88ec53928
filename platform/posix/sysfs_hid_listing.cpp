#include "platform/posix/sysfs_hid_listing.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace velkora::platform::posix {
namespace {

namespace fs = std::filesystem;

// A sysfs attribute without its line end; nothing when the file is gone or cannot be read.
// Read with plain system calls: a device that vanishes while it is read fails the read with
// ENODEV, which a C++ file stream would throw out of the listing instead of reporting.
std::optional<std::string> readAttribute(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            ::close(fd);
            if (got < 0) {
                return std::nullopt;
            }
            break;
        }
    }
    if (text.ends_with('\n')) {
        text.pop_back();
    }
    return text;
}

using Uevent = std::map<std::string, std::string, std::less<>>;

// The KEY=VALUE lines of a uevent file.
std::optional<Uevent> readUevent(const fs::path& file) {
    const std::optional<std::string> text = readAttribute(file);
    if (!text) {
        return std::nullopt;
    }
    Uevent values;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, end);
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            values.emplace(line.substr(0, equals), line.substr(equals + 1));
        }
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return values;
}

std::string valueOf(const Uevent& values, std::string_view key) {
    const auto found = values.find(key);
    return found != values.end() ? found->second : std::string();
}

// Whether `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF). A virtual device's name is whatever bytes its maker chose.
bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            code = lead & 0x1Fu;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            code = lead & 0x07u;
        } else {
            return false;
        }
        if (i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            code = code << 6 | (next & 0x3Fu);
        }
        const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

// A USB string as the updater shows it: text that is not UTF-8 counts as unreadable.
std::string usbText(std::optional<std::string> text) {
    return text && isUtf8(*text) ? std::move(*text) : std::string();
}

// HID_ID reads "BUS:VENDOR:PRODUCT" in hexadecimal ("0003:00000483:0000A5B9").
bool namesAdapter(const std::string& hidId) {
    const std::size_t first = hidId.find(':');
    const std::size_t second = hidId.find(':', first == std::string::npos ? first : first + 1);
    if (first == std::string::npos || second == std::string::npos) {
        return false;
    }
    const auto number = [](std::string_view digits) -> std::optional<std::uint32_t> {
        if (digits.empty() || digits.size() > 8 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
            return std::nullopt;
        }
        return static_cast<std::uint32_t>(std::stoul(std::string(digits), nullptr, 16));
    };
    const std::string_view id = hidId;
    return number(id.substr(first + 1, second - first - 1)) == kAdapterVendorId &&
           number(id.substr(second + 1)) == kAdapterProductId;
}

// The USB device above a HID device: the first folder up the device tree that carries a
// vendor and product ID (the USB interface between them carries neither).
std::optional<fs::path> usbDeviceAbove(const fs::path& hidDevice, const fs::path& sysfs) {
    std::error_code error;
    for (fs::path folder = hidDevice.parent_path();
         folder.has_relative_path() && folder != sysfs && folder != folder.parent_path();
         folder = folder.parent_path()) {
        if (fs::exists(folder / "idVendor", error) && fs::exists(folder / "idProduct", error)) {
            return folder;
        }
    }
    return std::nullopt;
}

// The record of one hidraw node, or nothing when it is not the adapter's or has gone.
std::optional<HidDeviceInfo> readNode(const fs::path& node, const fs::path& sysfs,
                                      const fs::path& dev) {
    const std::optional<Uevent> hid = readUevent(node / "device" / "uevent");
    if (!hid || !namesAdapter(valueOf(*hid, "HID_ID"))) {
        return std::nullopt;
    }
    std::error_code error;
    const fs::path hidDevice = fs::canonical(node / "device", error);
    if (error) {
        return std::nullopt;
    }
    // The node's name below /dev is the kernel's DEVNAME, which is its name in the class.
    const std::optional<Uevent> own = readUevent(node / "uevent");
    const std::string name = own ? valueOf(*own, "DEVNAME") : std::string();
    HidDeviceInfo record;
    record.path = (dev / (name.empty() ? node.filename().string() : name)).string();
    if (const std::optional<fs::path> usb = usbDeviceAbove(hidDevice, sysfs)) {
        record.manufacturer = usbText(readAttribute(*usb / "manufacturer"));
        record.product = usbText(readAttribute(*usb / "product"));
        record.serial = usbText(readAttribute(*usb / "serial"));
    } else {
        record.product = usbText(valueOf(*hid, "HID_NAME"));
        record.serial = usbText(valueOf(*hid, "HID_UNIQ"));
    }
    // A string file that could not be read may mean the device went while it was read; only
    // a device still there is listed.
    if (!fs::exists(node / "device" / "uevent", error)) {
        return std::nullopt;
    }
    return record;
}

}  // namespace

std::vector<HidDeviceInfo> listAdapterHidrawNodes(const fs::path& sysfs, const fs::path& dev) {
    const fs::path nodes = sysfs / "class" / "hidraw";
    std::error_code error;
    fs::directory_iterator entries(nodes, error);
    if (error == std::errc::no_such_file_or_directory) {
        return {};  // without any HID device the hidraw class may not be there at all
    }
    if (error) {
        throw std::runtime_error("Unable to list HID devices: " + nodes.string() + " (errno " +
                                 std::to_string(error.value()) + ").");
    }
    // Node names are "hidraw" and the kernel's number, which orders them.
    constexpr std::string_view kPrefix = "hidraw";
    std::vector<std::pair<unsigned long, fs::path>> numbered;
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        const std::string digits = name.substr(std::min(name.size(), kPrefix.size()));
        if (name.starts_with(kPrefix) && !digits.empty() && digits.size() <= 9 &&
            std::all_of(digits.begin(), digits.end(),
                        [](char c) { return c >= '0' && c <= '9'; })) {
            numbered.emplace_back(std::stoul(digits), entries->path());
        }
    }
    std::sort(numbered.begin(), numbered.end());
    // The device tree is walked in resolved paths, so the top is the resolved one too.
    const fs::path top = fs::weakly_canonical(sysfs, error);
    std::vector<HidDeviceInfo> result;
    for (const auto& [number, node] : numbered) {
        if (std::optional<HidDeviceInfo> record = readNode(node, top, dev)) {
            result.push_back(std::move(*record));
        }
    }
    return result;
}

}  // namespace velkora::platform::posix
