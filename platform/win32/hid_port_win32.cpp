// <windows.h> has to come first: the SetupAPI and HID headers rely on its types.
#include <windows.h>

#include <setupapi.h>

// mingw-w64's hidsdi.h declares the HID.DLL functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/hid_discovery.h"
#include "platform/hid_port.h"
#include "platform/win32/overlapped_connection.h"

namespace velkora::platform {
namespace {

using HidStringReader = BOOLEAN(__stdcall*)(HANDLE, PVOID, ULONG);

// Reads one USB string into a cleared buffer of 256 bytes, room for the longest USB string
// descriptor. The driver need not terminate a string that fills the buffer, so the text ends
// at the first NUL or after 128 characters. A failed read leaves the text empty.
std::string readUsbString(HANDLE device, HidStringReader reader) {
    wchar_t buffer[128] = {};
    if (!reader(device, buffer, sizeof(buffer))) {
        return {};
    }
    return toUtf8(std::wstring(buffer, wcsnlen(buffer, 128)));
}

// The present HID interfaces as SetupAPI lists them. The device information set is released
// however the walk ends.
class SetupApiListing final : public HidInterfaceListing {
  public:
    SetupApiListing() {
        HidD_GetHidGuid(&hidClass_);
        set_ = SetupDiGetClassDevsW(&hidClass_, nullptr, nullptr,
                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set_ == INVALID_HANDLE_VALUE) {
            throw std::runtime_error("SetupDiGetClassDevs failed.");
        }
    }
    ~SetupApiListing() override { SetupDiDestroyDeviceInfoList(set_); }
    SetupApiListing(const SetupApiListing&) = delete;
    SetupApiListing& operator=(const SetupApiListing&) = delete;

    Entry entryAt(std::uint32_t index) override {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!SetupDiEnumDeviceInterfaces(set_, nullptr, &hidClass_, index, &interfaceData)) {
            return {GetLastError() == ERROR_NO_MORE_ITEMS ? Entry::Kind::EndOfList
                                                          : Entry::Kind::Unreadable,
                    {}};
        }
        Entry entry{Entry::Kind::Unreadable, {}};
        if (interfacePath(interfaceData, entry.path)) {
            entry.kind = Entry::Kind::Interface;
        }
        return entry;
    }

    // An open without access rights is enough for the string requests and succeeds even
    // while another program holds the interface.
    std::optional<UsbStrings> usbStrings(const NativeString& path) override {
        HANDLE device = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        if (device == INVALID_HANDLE_VALUE) {
            return std::nullopt;
        }
        UsbStrings strings;
        strings.manufacturer = readUsbString(device, HidD_GetManufacturerString);
        strings.product = readUsbString(device, HidD_GetProductString);
        strings.serial = readUsbString(device, HidD_GetSerialNumberString);
        CloseHandle(device);
        return strings;
    }

  private:
    // The detail record has a variable length: the first call asks for its size, the second
    // fills a zeroed buffer of that size. Its size field takes the fixed part of the record
    // only (8 bytes on 64-bit Windows), not the buffer's length.
    bool interfacePath(SP_DEVICE_INTERFACE_DATA& interfaceData, std::wstring& path) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(set_, &interfaceData, nullptr, 0, &required, nullptr);
        // 0 means there is no detail to read. A size too small for the record's fixed part
        // would make the second call write past the buffer; no interface reports one, but the
        // size comes from outside.
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            return false;
        }
        std::vector<std::uint8_t> buffer(required, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(set_, &interfaceData, detail, required, nullptr,
                                              nullptr)) {
            return false;
        }
        const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
        const std::size_t maxChars = (required - pathOffset) / sizeof(wchar_t);
        path.assign(detail->DevicePath, wcsnlen(detail->DevicePath, maxChars));
        return true;
    }

    GUID hidClass_{};
    HDEVINFO set_ = INVALID_HANDLE_VALUE;
};

class WindowsHidPort final : public HidPort {
  public:
    std::vector<HidDeviceInfo> enumerate() override {
        SetupApiListing listing;
        return discoverAdapterInterfaces(listing);
    }

    // Shared for reading and writing, so that the string reads of a concurrent enumeration
    // and other tools do not lock the adapter out; overlapped, so that every read and write
    // can be bounded by a time-out.
    HidOpenResult open(const NativeString& path) override {
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return {nullptr, "Windows error " + std::to_string(GetLastError())};
        }
        // Windows keeps 32 input reports per handle unless asked for more, and drops the
        // oldest when the program falls behind: the adapter streams its fault log at one
        // report per frame, so a stall of a few dozen milliseconds would cost reports. Room
        // for the most Windows allows rides out stalls of half a second. Should the request
        // be refused, the handle keeps what it has; the connection is told either way.
        HidD_SetNumInputBuffers(handle, kInputReportsHeld);
        ULONG held = 0;
        if (!HidD_GetNumInputBuffers(handle, &held) || held == 0) {
            held = kWindowsDefaultInputReports;
        }
        return {win32::makeOverlappedConnection(handle, inputReportLength(handle), held), {}};
    }

  private:
    static constexpr ULONG kInputReportsHeld = 512;
    static constexpr ULONG kWindowsDefaultInputReports = 32;

    // The length of one input report with its report ID, which a read of several reports is
    // cut into; 0 when the interface does not say.
    static std::size_t inputReportLength(HANDLE handle) {
        PHIDP_PREPARSED_DATA data = nullptr;
        if (!HidD_GetPreparsedData(handle, &data)) {
            return 0;
        }
        HIDP_CAPS caps{};
        const bool known = HidP_GetCaps(data, &caps) == HIDP_STATUS_SUCCESS;
        HidD_FreePreparsedData(data);
        return known ? caps.InputReportByteLength : 0;
    }
};

}  // namespace

HidPort& systemHidPort() {
    static WindowsHidPort port;
    return port;
}

}  // namespace velkora::platform
