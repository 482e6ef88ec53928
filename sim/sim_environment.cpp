#include "sim/sim_environment.h"

namespace velkora::sim {

SimEnvironment::SimEnvironment(const AdapterSpec& spec, SimOptions options)
    : timeline_(options.mode),
      clock_(timeline_, options.tickStartMs, options.calendarStart),
      adapter_(timeline_, spec),
      bus_(timeline_, adapter_, spec.extras, spec.timing.usbFrames) {}

}  // namespace velkora::sim
