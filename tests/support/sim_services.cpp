#include "tests/support/sim_services.h"

namespace velkora::testing {

// The script is taken by value because its key and line lists are moved out of it.
SimServices::SimServices(const std::filesystem::path& programFolder,
                         const sim::AdapterProfile& profile,
                         // cppcheck-suppress passedByValue
                         UserScript script)
    : host(programFolder),
      sim_(profile),
      keys_(sim_.timeline(), std::move(script.keys)),
      input_(sim_.timeline(), std::move(script.lines), &screen_),
      in_(&input_),
      out_(&screen_),
      services_{sim_.clock(), sim_.bus(), keys_, host, in_, out_} {
    sim_.timeline().setVirtualLimit(sim::fromMs(2 * 60 * 60 * 1000));
}

}  // namespace velkora::testing
