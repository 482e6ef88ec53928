#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "management/fault_record.h"

namespace velkora {

// Turns the downloaded fault dump into its records, in the order of their lines. The dump is
// accepted only whole: both markers must be present, the count line must come, and exactly the
// announced number of record lines must stand before the end line. Otherwise it fails with a
// runtime error, one of:
//   "Fault log display failed: the complete dump markers were not received."
//   "Fault log display failed: unsupported text format."
//   "Fault log display failed: incomplete text format."
//   "Fault log display failed: invalid fault record x value."
//   "Fault log display failed: unsupported fault record format."
//   "Fault log display failed: the complete fault records could not be verified."
std::vector<FaultRecord> parseFaultDump(std::string_view dump);

}  // namespace velkora
