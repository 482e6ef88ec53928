#include "tests/support/sim_services.h"

namespace velkora::testing {

namespace {
constexpr std::uint64_t kVirtualLimitMs = 2 * 60 * 60 * 1000;
}

SimServices::SimServices(const std::filesystem::path& programFolder, sim::AdapterSpec spec,
                         UserScript script, sim::SimOptions options)
    : host(programFolder),
      sim_(std::move(spec), options),
      keys_(sim_.timeline(), std::move(script.keys)),
      input_(sim_.timeline(), std::move(script.lines), &screen_),
      in_(&input_),
      out_(&screen_),
      services_{sim_.clock(), sim_.bus(), keys_, host, in_, out_} {
    sim_.timeline().setVirtualLimit(sim::fromMs(kVirtualLimitMs));
}

}  // namespace velkora::testing
