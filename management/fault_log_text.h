#pragma once

#include <span>
#include <string>

#include "management/fault_catalogue.h"

namespace velkora {

// The fault log as one text with CR LF line ends, the same bytes for the console and for the
// saved fault-dump file: "Total number of faults: N", then either "No faults are stored." or,
// for each record, an empty line, "Fault NNN" (the index zero-padded to three digits), the
// title, "X: x" when the record had an x field, and the value lines.
std::string formatFaultLog(std::span<const FaultDisplay> displays);

}  // namespace velkora
