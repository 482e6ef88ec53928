#include <windows.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/host.h"

namespace velkora::platform {
namespace {

// Only the mutex's existence matters: it is never waited on or released, and Windows deletes
// it when the last handle closes, including when the process dies.
class NamedMutexGuard final : public InstanceGuard {
  public:
    explicit NamedMutexGuard(HANDLE mutex) : mutex_(mutex) {}
    ~NamedMutexGuard() override { CloseHandle(mutex_); }
    NamedMutexGuard(const NamedMutexGuard&) = delete;
    NamedMutexGuard& operator=(const NamedMutexGuard&) = delete;

  private:
    HANDLE mutex_;
};

// RtlGetVersion reports the true version; GetVersionEx lies to programs without a manifest.
using RtlGetVersionFunction = LONG(WINAPI*)(PRTL_OSVERSIONINFOW);

std::string windowsVersionText() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return "unknown";
    }
    // GetProcAddress returns a generic function pointer; going through void* keeps the
    // compiler from warning about the cast to the real signature.
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (rtlGetVersion == nullptr) {
        return "unknown";
    }
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);  // 276 bytes
    if (rtlGetVersion(&info) != 0) {
        return "unknown";
    }
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
           std::to_string(info.dwBuildNumber);
}

class WindowsHost final : public Host {
  public:
    InstanceClaim claimSingleInstance() override {
        InstanceClaim claim;
        HANDLE mutex =
            CreateMutexW(nullptr, FALSE, L"Local\\Velkora_Firmware_Updater_SingleInstance");
        if (mutex == nullptr) {
            return claim;
        }
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            CloseHandle(mutex);
            claim.outcome = InstanceClaimOutcome::AlreadyRunning;
            return claim;
        }
        claim.outcome = InstanceClaimOutcome::Acquired;
        claim.guard = std::make_unique<NamedMutexGuard>(mutex);
        return claim;
    }

    // The path may be longer than MAX_PATH; a result that fills the buffer may be truncated,
    // so the buffer grows until the path fits with room to spare.
    std::filesystem::path programFolder() override {
        std::vector<wchar_t> buffer(260);
        DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        while (length >= buffer.size() - 1) {
            buffer.resize(buffer.size() * 2);
            length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        }
        if (length == 0) {
            throw std::runtime_error("GetModuleFileName failed.");
        }
        return std::filesystem::path(std::wstring(buffer.data(), length)).parent_path();
    }

    std::string osVersionLine() override { return "Windows version " + windowsVersionText(); }
};

}  // namespace

Host& systemHost() {
    static WindowsHost host;
    return host;
}

}  // namespace velkora::platform
