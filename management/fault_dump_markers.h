#pragma once

#include <string_view>

namespace velkora {

// The coloured lines with which the device frames its fault dump. The end marker also tells
// the download when the dump is complete.
inline constexpr std::string_view kFaultDumpBeginMarker =
    "\x1B[30;46m[EOL] DATA DUMP BEGIN\x1B[0m\r\n";
inline constexpr std::string_view kFaultDumpEndMarker = "\x1B[30;46m[EOL] DATA DUMP END\x1B[0m\r\n";

// The end marker once its colour codes and line ending are gone.
inline constexpr std::string_view kFaultDumpEndLine = "[EOL] DATA DUMP END";

static_assert(kFaultDumpBeginMarker.size() == 35);
static_assert(kFaultDumpEndMarker.size() == 33);

}  // namespace velkora
