#pragma once

#include <cstdint>
#include <vector>

#include "sim/adapter_profile.h"
#include "sim/device_outcome.h"

namespace velkora::sim {

// The application as the bootloader knows it: what GET_APP_INFO reports and what an
// installed image changes.
struct InstalledApplication {
    bool valid = false;
    VersionBytes version{};
    VersionBytes hardwareInterface{};
    std::uint8_t compatibility = 0;
};

// The bootloader identity's commands and its transfer state machine:
//
//   IDLE --START_UPDATE--> RECEIVING --END_UPDATE ok--> FINISHED
//                             |   \--bad chunk, short or rejected image--> ERROR
//   any state --ABORT_UPDATE--> IDLE
//
// START_UPDATE is refused with BUSY unless the bootloader is IDLE with no active transfer.
class BootloaderModel {
  public:
    BootloaderModel(const BootloaderProfile& profile, const ApplicationProfile& application);

    Outcome handle(const WireRequest& request);

    // A restart forgets a transfer in progress or finished; an error stays until aborted.
    void restart();

    const TransferStatus& status() const { return status_; }
    const InstalledApplication& application() const { return application_; }
    const std::vector<std::uint8_t>& receivedImage() const { return image_; }

  private:
    Outcome dispatch(const WireRequest& request);
    Outcome getInfo(const WireRequest& request) const;
    Outcome getAppInfo(const WireRequest& request) const;
    Outcome getStatus(const WireRequest& request) const;
    Outcome startUpdate(const WireRequest& request);
    Outcome dataChunk(const WireRequest& request);
    Outcome endUpdate(const WireRequest& request);
    Outcome abortUpdate(const WireRequest& request);
    Outcome startApp(const WireRequest& request, Effect effect) const;
    Outcome failTransfer(const WireRequest& request, std::uint8_t statusCode,
                         std::vector<std::uint8_t> payload = {});
    bool transferActive() const;

    BootloaderProfile profile_;
    InstalledApplication application_;
    TransferStatus status_;
    std::vector<std::uint8_t> image_;
};

}  // namespace velkora::sim
