#include "tests/support/fake_services.h"

namespace velkora::testing {
namespace {

class CountedGuard : public platform::InstanceGuard {
  public:
    explicit CountedGuard(int& held) : held_(held) { ++held_; }
    ~CountedGuard() override { --held_; }

  private:
    int& held_;
};

}  // namespace

platform::InstanceClaim FakeHost::claimSingleInstance() {
    platform::InstanceClaim claim;
    claim.outcome = claimOutcome;
    if (claimOutcome == platform::InstanceClaimOutcome::Acquired) {
        claim.guard = std::make_unique<CountedGuard>(claimsHeld);
    }
    return claim;
}

FakeServices::FakeServices(const std::filesystem::path& programFolder,
                           const std::string& consoleInput)
    : host(programFolder), in_(consoleInput), services_{clock, hid, keys, host, in_, out_} {}

}  // namespace velkora::testing
