#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "sim/adapter_profile.h"

namespace velkora::sim {

// The simulated bootloader's view of an image. An image may begin with one text line that
// says what it holds:
//
//   VELKORA-SIM-IMAGE compatibility=0x03 version=1.5.0.0 hwif=1.0.0.0<LF>
//
// compatibility (0x.. or decimal, 0 to 255) and version (four numbers 0 to 255) are required,
// hwif is optional. An installed image with this line gives the application its version,
// hardware interface and compatibility; its compatibility must equal the device's. An image
// without the line installs as it is and leaves the reported version alone. A line that
// starts with the tag but cannot be read makes the image damaged (the secure-boot check
// fails).
inline constexpr std::string_view kImageTag = "VELKORA-SIM-IMAGE";

struct ImageHeader {
    std::uint8_t compatibility = 0;
    VersionBytes version{};
    std::optional<VersionBytes> hardwareInterface;
};

enum class ImageKind { Plain, Tagged, Damaged };

struct ImageInfo {
    ImageKind kind = ImageKind::Plain;
    ImageHeader header;  // for Tagged
};

ImageInfo inspectImage(std::span<const std::uint8_t> image);

// The header line for an image, ending in a line feed.
std::string formatImageHeader(const ImageHeader& header);

}  // namespace velkora::sim
