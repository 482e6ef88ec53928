#include "sim/adapter_spec.h"

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

AdapterSpec defaultAdapterSpec() {
    AdapterSpec spec;
    spec.faultDump = emptyFaultDump();
    return spec;
}

}  // namespace velkora::sim
