#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/fault_injection.h"

namespace velkora::sim {

// Four version components, each one byte as the bootloader reports them.
using VersionBytes = std::array<std::uint8_t, 4>;

enum class Identity { Absent, Bootloader, Application };

// The bootloader's transfer state as GET_STATUS reports it.
struct TransferStatus {
    std::uint8_t state = 0;  // 0 IDLE, 1 RECEIVING, 2 FINISHED, 3 ERROR; others only by choice
    bool active = false;
    std::uint8_t lastCommand = 0;
    std::uint8_t lastStatus = 0;
    std::uint32_t expected = 0;
    std::uint32_t received = 0;
};

namespace transfer_state {
inline constexpr std::uint8_t kIdle = 0;
inline constexpr std::uint8_t kReceiving = 1;
inline constexpr std::uint8_t kFinished = 2;
inline constexpr std::uint8_t kError = 3;
}  // namespace transfer_state

// How the adapter shows itself on the bus. Both identities carry the same serial number.
struct IdentityProfile {
    Identity initial = Identity::Bootloader;
    std::string manufacturer = "Velkora";
    std::string bootloaderProduct = "Velkora Bootloader";
    std::string managementProduct = "Velkora Management Interface";
    std::string serial = "2050384E3436";
    // Each identity is its own interface with its own path, as Windows lists them.
    std::string bootloaderPath =
        "\\\\?\\hid#vid_0483&pid_a5b9#7&2a1b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    std::string managementPath =
        "\\\\?\\hid#vid_0483&pid_a5b9&mi_01#8&1f2e3d4c&0&0001#{4d1e55b2-f16f-11cf-88cb-"
        "001111000030}";
};

struct BootloaderProfile {
    std::uint8_t protocolMajor = 1;
    std::uint8_t protocolMinor = 2;
    std::uint8_t reportLength = 0x40;
    std::uint8_t payloadCapacity = 0x38;
    std::array<std::uint8_t, 12> deviceId{0x20, 0x50, 0x38, 0x4E, 0x34, 'V',
                                          'K',  'R',  'A',  '0',  '0',  '1'};
    VersionBytes bootloaderVersion{1, 0, 0, 0};
    VersionBytes hardwareVersion{1, 0, 0, 0};
    std::uint8_t compatibility = 0x01;
    std::uint32_t maxImageSize = 1024 * 1024;
    TransferStatus prior;  // the transfer state the adapter is found in
};

struct ApplicationProfile {
    bool valid = true;
    VersionBytes version{1, 0, 0, 0};
    VersionBytes hardwareInterface{1, 0, 0, 0};
    std::uint8_t compatibility = 0x01;
    // The application GET_INFO answer: identity, a zero byte, the configuration wire format
    // and nine further bytes.
    std::string identity = "APP1";
    std::uint8_t wireFormat = 1;
    std::array<std::uint8_t, 9> infoTail{};
};

struct ConfigItemProfile {
    bool present = true;
    std::uint8_t stored = 0;
    std::uint8_t defaultValue = 0;
};

inline constexpr std::size_t kConfigItemCount = 9;
// The number of values of items 1 to 9.
inline constexpr std::array<std::uint8_t, kConfigItemCount> kConfigValueCounts{5, 3, 3, 3, 3,
                                                                               2, 3, 2, 2};

// What the adapter does after END_UPDATE has installed an image.
enum class AfterInstall {
    Stay,        // remains in its bootloader, transfer FINISHED
    Bootloader,  // restarts and comes back in bootloader identity
    Absent,      // restarts into the application without its management interface
};

struct TimingProfile {
    // A report crosses the bus only at the next 1 ms frame boundary, in each direction, as on
    // a full-speed USB interrupt endpoint.
    bool usbFrames = false;
    // 0: present from the start. Otherwise the adapter plugs in this long after the host
    // first lists the bus, that is once the updater has started waiting for it.
    std::uint32_t plugInMs = 0;
    std::uint32_t responseMs = 0;                 // time to answer an ordinary request
    std::uint32_t endUpdateMs = 0;                // time to check and install an image
    std::uint32_t detachMs = 20;                  // from an answer to the interface vanishing
    std::uint32_t appEnumerationMs = 800;         // bootloader gone -> management interface
    std::uint32_t bootloaderEnumerationMs = 800;  // management interface gone -> bootloader
    std::uint32_t dumpIntervalMs = 2;
    std::vector<std::uint8_t> dumpChunkSizes{56};  // cycled; each 1 to 56
    AfterInstall afterInstall = AfterInstall::Bootloader;
};

// An interface on the bus besides the adapter, for the bus faults: a second bootloader, a
// second or foreign management interface, an interface whose strings cannot be read. It is
// listed and can be opened, but never answers.
struct ExtraInterfaceProfile {
    enum class Kind { Bootloader, Management, Unreadable };
    Kind kind = Kind::Bootloader;
    std::string serial = "2050384E9999";
    std::uint32_t appearMs = 0;  // as plugInMs
    // 0: stays once it has appeared. Otherwise it leaves the bus this long after appearing,
    // comes back as long after that, and so on.
    std::uint32_t churnMs = 0;
};

// One simulated adapter and its surroundings, as a scenario file describes them.
struct AdapterProfile {
    IdentityProfile identity;
    BootloaderProfile bootloader;
    ApplicationProfile application;
    std::string faultDump;  // the raw text the application streams for FAULT_DUMP
    std::array<ConfigItemProfile, kConfigItemCount> config{};
    TimingProfile timing;
    std::vector<FaultProfile> faults;
    std::vector<ExtraInterfaceProfile> extras;
};

// The dump markers, as the device frames its fault log.
std::string faultDumpBeginMarker();
std::string faultDumpEndMarker();
// The dump of an empty fault log, which the device sends after CLEAR_FAULTS.
std::string emptyFaultDump();
// A dump of exactly `size` bytes that holds `records` fault records (at most 999), lines of
// filler before its count line making up the size. Throws std::invalid_argument when the
// records do not fit.
inline constexpr std::uint32_t kMostFaultRecords = 999;
std::string generatedFaultDump(std::uint32_t records, std::uint32_t size);

// A healthy adapter in its bootloader with a valid application, an empty fault log and all
// nine configuration items.
AdapterProfile defaultAdapterProfile();

}  // namespace velkora::sim
