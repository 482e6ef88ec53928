#pragma once

#include <string>
#include <string_view>

#include "management/fault_dump_markers.h"

namespace velkora::testing {

// A dump as the device frames it: the begin marker, a banner, the given lines, the end marker.
inline std::string framedDump(std::string_view lines) {
    return std::string(kFaultDumpBeginMarker) + "Velkora fault log\r\n" + std::string(lines) +
           std::string(kFaultDumpEndMarker);
}

}  // namespace velkora::testing
