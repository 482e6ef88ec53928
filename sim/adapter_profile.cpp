#include "sim/adapter_profile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>

namespace velkora::sim {

std::string faultDumpBeginMarker() {
    return "\x1b[30;46m[EOL] DATA DUMP BEGIN\x1b[0m\r\n";
}

std::string faultDumpEndMarker() {
    return "\x1b[30;46m[EOL] DATA DUMP END\x1b[0m\r\n";
}

std::string emptyFaultDump() {
    return faultDumpBeginMarker() + "000\r\n" + faultDumpEndMarker();
}

std::string generatedFaultDump(std::uint32_t records, std::uint32_t size) {
    if (records > kMostFaultRecords) {
        throw std::invalid_argument("at most 999 records fit the three-digit count line");
    }
    // Records of kinds the adapter logs, each a known code with values that suit it.
    constexpr std::array<const char*, 5> kRecords{
        "FLT_BIG_OC 65436 05120", "FLT_TEMPERATURE 00085 00000", "FLT_WELD 01250 00001",
        "PD_SOFT_RESET 002 00012 00003", "CLEAN_RUN 00000 05000"};
    std::array<char, 8> count{};
    std::snprintf(count.data(), count.size(), "%03u\r\n", records);
    std::string body = count.data();
    for (std::uint32_t i = 1; i <= records; ++i) {
        std::snprintf(count.data(), count.size(), "%03u ", i);
        body += count.data();
        body += kRecords[(i - 1) % kRecords.size()];
        body += "\r\n";
    }
    const std::string begin = faultDumpBeginMarker();
    const std::string end = faultDumpEndMarker();
    const std::size_t fixed = begin.size() + body.size() + end.size();
    if (size < fixed) {
        throw std::invalid_argument(std::to_string(records) + " records need at least " +
                                    std::to_string(fixed) + " bytes");
    }
    // Lines before the count line are not records; filler lines of up to 64 bytes bring the
    // dump to its size, the last one as short as needed (an empty line is 1 or 2 bytes).
    std::string filler;
    for (std::size_t left = size - fixed; left > 0;) {
        const std::size_t line = std::min<std::size_t>(left, 64);
        filler += line >= 3 ? std::string(line - 2, '.') + "\r\n" : line == 2 ? "\r\n" : "\n";
        left -= line;
    }
    return begin + filler + body + end;
}

AdapterProfile defaultAdapterProfile() {
    AdapterProfile profile;
    profile.faultDump = emptyFaultDump();
    return profile;
}

}  // namespace velkora::sim
