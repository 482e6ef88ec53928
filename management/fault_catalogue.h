#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "management/fault_record.h"

namespace velkora {

// One fault record as the user reads it: the catalogue's title for its code and its values
// written out with their labels and units.
struct FaultDisplay {
    std::uint16_t index = 0;
    bool hasX = false;
    std::uint8_t x = 0;
    std::string title;
    std::vector<std::string> lines;  // the value lines in catalogue order; may be empty

    friend bool operator==(const FaultDisplay&, const FaultDisplay&) = default;
};

// Describes one record from the catalogue of the codes this updater knows. Fails with the
// runtime error "Fault log contains a fault record that this updater cannot display." for a
// code it does not know or a value that selects no variant of the code's entry.
FaultDisplay describeFaultRecord(const FaultRecord& record);

// Describes every record in order. One record that cannot be displayed fails the whole
// sequence: the user is never shown part of a fault log as if it were all of it.
std::vector<FaultDisplay> describeFaultRecords(std::span<const FaultRecord> records);

}  // namespace velkora
