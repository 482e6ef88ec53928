#include <iostream>

#include "platform/services.h"

namespace velkora::platform {

Services& systemServices() {
    static Services services{systemClock(), systemHidPort(), systemConsoleKeys(),
                             systemHost(),  std::cin,        std::cout};
    return services;
}

}  // namespace velkora::platform
