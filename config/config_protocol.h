#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "config/config_items.h"
#include "hid/hid_exchange.h"

namespace velkora {

namespace config_command {
inline constexpr std::uint8_t kGetInfo = 0x83;
inline constexpr std::uint8_t kGetConfig = 0x84;
inline constexpr std::uint8_t kSetConfigItem = 0x85;
inline constexpr std::uint8_t kStoreConfig = 0x86;
inline constexpr std::uint8_t kResetConfig = 0x87;
}  // namespace config_command

inline constexpr std::uint32_t kConfigTimeoutMs = 5000;
inline constexpr std::uint8_t kConfigStatusFailed = 6;
inline constexpr std::uint8_t kConfigStatusBadItem = 7;
inline constexpr std::uint8_t kConfigStatusBadValue = 8;

// One configuration as the adapter reported it: for item IDs 1 to 9 (index 0 to 8) either
// absent (the item does not exist on this adapter) or a valid value index.
using ConfigSnapshot = std::array<std::optional<std::uint8_t>, kConfigItemCount>;

// "OK", "BAD_MAGIC", ... "BAD_ITEM", "BAD_VALUE"; other codes read "STATUS_0x09".
std::string configStatusName(std::uint8_t status);

// The shared check of a configuration answer: report ID and size, then header, then payload
// length (the expected length for status 0, none otherwise). Returns the status.
std::uint8_t checkConfigResponse(const HidResponse& response, std::uint8_t command,
                                 std::uint8_t sequence, std::size_t expectedPayloadLength);

// GET_INFO with sequence 1: the application must be "APP1" with configuration wire format 1.
void readApplicationIdentity(HidHandle& handle);

// GET_CONFIG: the adapter's working configuration.
ConfigSnapshot readConfigSnapshot(HidHandle& handle, std::uint8_t& sequence);

// SET_CONFIG_ITEM: changes one item of the working configuration.
void setConfigItem(HidHandle& handle, std::uint8_t& sequence, std::uint8_t itemId,
                   std::uint8_t valueIndex);

// RESET_CONFIG: the working configuration becomes the defaults; nothing is stored.
void resetConfig(HidHandle& handle, std::uint8_t& sequence);

// STORE_CONFIG: returns the answer's status; 0 means stored, and the adapter restarts.
std::uint8_t storeConfig(HidHandle& handle, std::uint8_t& sequence);

}  // namespace velkora
