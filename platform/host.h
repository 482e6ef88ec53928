#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace velkora::platform {

// Holds the single-instance claim until it is destroyed (or the process ends).
class InstanceGuard {
  public:
    virtual ~InstanceGuard() = default;
};

enum class InstanceClaimOutcome {
    Acquired,        // this process is the only updater of the user's session
    AlreadyRunning,  // another updater holds the claim
    Failed,          // the claim could not be made at all
};

struct InstanceClaim {
    InstanceClaimOutcome outcome = InstanceClaimOutcome::Failed;
    std::unique_ptr<InstanceGuard> guard;  // set only when acquired
};

// What the updater asks of the process and the operating system around it.
class Host {
  public:
    virtual ~Host() = default;

    // Makes sure only one updater runs per user session.
    virtual InstanceClaim claimSingleInstance() = 0;

    // The folder that holds the running program; logs and the firmware package live beside
    // it. Fails with a runtime error when the program's own path cannot be found.
    virtual std::filesystem::path programFolder() = 0;

    // The run-log line naming the operating system, for example "Windows version 10.0.22631".
    virtual std::string osVersionLine() = 0;
};

// The running process and its operating system.
Host& systemHost();

}  // namespace velkora::platform
