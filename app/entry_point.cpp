#include "app/entry_point.h"

#include <exception>
#include <ostream>

#include "common/console.h"
#include "common/exceptions.h"

namespace velkora {

bool isServiceModeRequested(const std::vector<platform::NativeString>& arguments) {
    const platform::NativeString serviceSwitch = platform::fromUtf8("--service");
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (platform::equalsIgnoringCase(arguments[i], serviceSwitch)) {
            return true;
        }
    }
    return false;
}

int runEntryPoint(platform::Services& services,
                  const std::vector<platform::NativeString>& arguments, const UpdaterRun& run) {
    ConsoleIo console{services.in, services.out};

    // The claim is held from here to the end of the process, across restarts.
    platform::InstanceClaim claim = services.host.claimSingleInstance();
    if (claim.outcome == platform::InstanceClaimOutcome::Failed) {
        console.out << "\nUnable to start the updater.\n";
        waitForEnterToClose(console);
        return 1;
    }
    if (claim.outcome == platform::InstanceClaimOutcome::AlreadyRunning) {
        console.out << "\nAnother Velkora Firmware Updater is already running.\n";
        waitForEnterToClose(console);
        return 0;
    }

    // The messages begin with a line break so that they stand apart from whatever the run
    // printed last, a progress line for instance.
    for (;;) {
        try {
            run(isServiceModeRequested(arguments));
            return 0;
        } catch (const RestartRequested&) {
            continue;
        } catch (const UserCancelled& cancelled) {
            if (!cancelled.quiet()) {
                console.out << "\nUpdate cancelled.\n";
                waitForEnterToClose(console);
            }
            return 0;
        } catch (const ConfigurationFailure& failure) {
            console.out << "\nConfiguration failed.\n" << failure.what() << "\n";
            waitForEnterToClose(console);
            return 1;
        } catch (const std::exception& failure) {
            console.out << "\nUpdate failed.\n" << failure.what() << "\n";
            waitForEnterToClose(console);
            return 1;
        }
    }
}

}  // namespace velkora
