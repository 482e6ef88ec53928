// <windows.h> comes first: the other system headers rely on its types.
#include <windows.h>

#include <setupapi.h>

// mingw-w64's hidsdi.h declares the HID.DLL functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <algorithm>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/hid_port.h"
#include "platform/win32/overlapped_connection.h"

namespace velkora::platform {
namespace {

constexpr const char* kDeviceIdPattern = "vid_0483&pid_a5b9";

// Releases the device information set however the enumeration ends.
class DeviceInfoSet {
  public:
    explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
    ~DeviceInfoSet() {
        if (set_ != INVALID_HANDLE_VALUE) {
            SetupDiDestroyDeviceInfoList(set_);
        }
    }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    HDEVINFO get() const { return set_; }

  private:
    HDEVINFO set_;
};

bool matchesAdapterIds(const std::wstring& path) {
    std::string lowered = toUtf8(path);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lowered.find(kDeviceIdPattern) != std::string::npos;
}

using HidStringReader = BOOLEAN(__stdcall*)(HANDLE, PVOID, ULONG);

// Reads one USB string into a cleared 256-byte buffer; a failed read leaves the text empty.
std::string readUsbString(HANDLE device, HidStringReader reader) {
    wchar_t buffer[128] = {};
    if (!reader(device, buffer, sizeof(buffer))) {
        return {};
    }
    return toUtf8(std::wstring(buffer, wcsnlen(buffer, 128)));
}

// Reads the three strings through an open without access rights, which HID devices allow
// even while another program has them open. A device that refuses it is still listed.
void readUsbStrings(HidDeviceInfo& record) {
    HANDLE device = CreateFileW(record.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        return;
    }
    record.manufacturer = readUsbString(device, HidD_GetManufacturerString);
    record.product = readUsbString(device, HidD_GetProductString);
    record.serial = readUsbString(device, HidD_GetSerialNumberString);
    CloseHandle(device);
}

class WindowsHidPort final : public HidPort {
  public:
    std::vector<HidDeviceInfo> enumerate() override {
        GUID hidClass{};
        HidD_GetHidGuid(&hidClass);
        DeviceInfoSet set(SetupDiGetClassDevsW(&hidClass, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
        if (set.get() == INVALID_HANDLE_VALUE) {
            throw std::runtime_error("SetupDiGetClassDevs failed.");
        }
        std::vector<HidDeviceInfo> result;
        for (DWORD index = 0;; ++index) {
            SP_DEVICE_INTERFACE_DATA interfaceData{};
            interfaceData.cbSize = sizeof(interfaceData);
            if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hidClass, index,
                                             &interfaceData)) {
                if (GetLastError() == ERROR_NO_MORE_ITEMS) {
                    return result;
                }
                continue;
            }
            std::wstring path;
            if (!interfacePath(set.get(), interfaceData, path) || !matchesAdapterIds(path)) {
                continue;
            }
            HidDeviceInfo record;
            record.path = path;
            readUsbStrings(record);
            result.push_back(std::move(record));
        }
    }

    HidOpenResult open(const NativeString& path) override {
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return {nullptr, "Windows error " + std::to_string(GetLastError())};
        }
        return {win32::makeOverlappedConnection(handle), {}};
    }

  private:
    // The detail record has a variable length: ask for its size, then for the record.
    static bool interfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData,
                              std::wstring& path) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr);
        if (required == 0) {
            return false;
        }
        std::vector<std::uint8_t> buffer(required, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required, nullptr,
                                              nullptr)) {
            return false;
        }
        const std::size_t maxChars =
            (required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(wchar_t);
        path.assign(detail->DevicePath, wcsnlen(detail->DevicePath, maxChars));
        return true;
    }
};

}  // namespace

HidPort& systemHidPort() {
    static WindowsHidPort port;
    return port;
}

}  // namespace velkora::platform
