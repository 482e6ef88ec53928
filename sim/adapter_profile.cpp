#include "sim/adapter_profile.h"

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

AdapterProfile defaultAdapterProfile() {
    AdapterProfile profile;
    profile.faultDump = emptyFaultDump();
    return profile;
}

}  // namespace velkora::sim
