#pragma once

#include <cstdint>
#include <optional>

#include "sim/wire.h"

namespace velkora::sim {

// What a request sets in motion beyond its answer; the adapter carries it out on the bus.
enum class Effect {
    None,
    StartApp,     // the bootloader leaves for the application, which stays off the HID bus
    StartAppUsb,  // the bootloader leaves; the management interface appears later
    Installed,    // an image was installed
    StreamDump,   // the fault dump follows the acknowledgement
    Exit,         // the management interface leaves; the bootloader comes back
    Store,        // the configuration was stored; the adapter restarts into its bootloader
};

struct Outcome {
    WireAnswer answer;
    Effect effect = Effect::None;
};

// The checks every request meets before its command is looked at: a status when the frame
// itself is unusable, nothing when it may be handled.
inline std::optional<std::uint8_t> frameProblem(const WireRequest& request) {
    if (!request.magicOk) {
        return status::kBadMagic;
    }
    if (request.version != frame::kVersion) {
        return status::kBadVersion;
    }
    if (!request.complete || request.declaredLength > frame::kMaxPayload) {
        return status::kBadLength;
    }
    return std::nullopt;
}

inline Outcome reply(const WireRequest& request, std::uint8_t statusCode,
                     std::vector<std::uint8_t> payload = {}, Effect effect = Effect::None) {
    return Outcome{WireAnswer{request.command, request.sequence, statusCode, std::move(payload)},
                   effect};
}

}  // namespace velkora::sim
