#pragma once

#include <cstdint>
#include <string>

namespace velkora {

// One fault as the device's dump lists it. The catalogue decides per code whether a value is
// read as signed or unsigned.
struct FaultRecord {
    std::uint16_t index = 0;  // the record's number as the device wrote it, 000 to 999
    std::string code;         // upper-case letters, digits and underscores
    bool hasX = false;        // the line carried the optional x field
    std::uint8_t x = 0;       // 0 when hasX is false
    std::uint16_t value1 = 0;
    std::uint16_t value2 = 0;

    friend bool operator==(const FaultRecord&, const FaultRecord&) = default;
};

}  // namespace velkora
