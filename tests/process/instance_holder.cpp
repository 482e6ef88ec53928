// Takes the updater's single-instance guard exactly as the updater does, says what happened,
// and holds the guard until its standard input closes or it is killed.
#include <iostream>
#include <string>

#include "platform/host.h"

int main() {
    using velkora::platform::InstanceClaimOutcome;
    velkora::platform::InstanceClaim claim = velkora::platform::systemHost().claimSingleInstance();
    switch (claim.outcome) {
        case InstanceClaimOutcome::Acquired:
            std::cout << "acquired" << std::endl;
            break;
        case InstanceClaimOutcome::AlreadyRunning:
            std::cout << "already running" << std::endl;
            return 0;
        case InstanceClaimOutcome::Failed:
            std::cout << "failed" << std::endl;
            return 1;
    }
    std::string ignored;
    while (std::getline(std::cin, ignored)) {
    }
    return 0;
}
