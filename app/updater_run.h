#pragma once

#include "platform/services.h"

namespace velkora {

// One pass of the updater from its banner to the user's last choice. Returns when the user
// has finished, throws RestartRequested for a fresh run, UserCancelled when the wait for the
// adapter is cancelled, ConfigurationFailure when the configuration editor fails, and a
// std::runtime_error carrying the user's message for every other failure.
void runUpdater(platform::Services& services, bool serviceMode);

}  // namespace velkora
