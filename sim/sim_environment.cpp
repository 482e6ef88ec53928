#include "sim/sim_environment.h"

namespace velkora::sim {

SimEnvironment::SimEnvironment(const AdapterProfile& profile, SimOptions options)
    : timeline_(options.mode),
      clock_(timeline_, options.tickStartMs, options.calendarStart),
      adapter_(timeline_, profile),
      bus_(timeline_, adapter_, profile.extras, profile.timing.usbFrames) {}

}  // namespace velkora::sim
