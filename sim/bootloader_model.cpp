#include "sim/bootloader_model.h"

#include <algorithm>

#include "sim/firmware_image.h"

namespace velkora::sim {
namespace {

constexpr std::size_t kChunkHeader = 5;
constexpr std::size_t kMaxChunk = frame::kMaxPayload - kChunkHeader;  // 51

void append(std::vector<std::uint8_t>& out, const VersionBytes& version) {
    out.insert(out.end(), version.begin(), version.end());
}

}  // namespace

BootloaderModel::BootloaderModel(const BootloaderProfile& profile,
                                 const ApplicationProfile& application)
    : profile_(profile),
      application_{application.valid, application.version, application.hardwareInterface,
                   application.compatibility},
      status_(profile.prior) {}

void BootloaderModel::restart() {
    if (status_.state != transfer_state::kError) {
        status_ = TransferStatus{};
        image_.clear();
    }
}

bool BootloaderModel::transferActive() const {
    return status_.state == transfer_state::kReceiving && status_.active;
}

Outcome BootloaderModel::handle(const WireRequest& request) {
    Outcome outcome = dispatch(request);
    // GET_STATUS reports on the other commands, so it does not record itself.
    if (request.command != command::kGetStatus) {
        status_.lastCommand = request.command;
        status_.lastStatus = outcome.answer.status;
    }
    return outcome;
}

Outcome BootloaderModel::dispatch(const WireRequest& request) {
    if (const auto problem = frameProblem(request)) {
        return reply(request, *problem);
    }
    switch (request.command) {
        case command::kGetInfo:
            return getInfo(request);
        case command::kGetStatus:
            return getStatus(request);
        case command::kStartUpdate:
            return startUpdate(request);
        case command::kAbortUpdate:
            return abortUpdate(request);
        case command::kDataChunk:
            return dataChunk(request);
        case command::kEndUpdate:
            return endUpdate(request);
        case command::kGetAppInfo:
            return getAppInfo(request);
        case command::kStartApp:
            return startApp(request, Effect::StartApp);
        case command::kStartAppUsb:
            return startApp(request, Effect::StartAppUsb);
        default:
            return reply(request, status::kUnknownCommand);
    }
}

Outcome BootloaderModel::getInfo(const WireRequest& request) const {
    if (!request.payload.empty()) {
        return reply(request, status::kBadLength);
    }
    std::vector<std::uint8_t> payload{profile_.protocolMajor,
                                      profile_.protocolMinor,
                                      profile_.reportLength,
                                      profile_.payloadCapacity,
                                      0,
                                      0,
                                      0,
                                      0};
    payload.insert(payload.end(), profile_.deviceId.begin(), profile_.deviceId.end());
    payload.resize(40, 0);
    append(payload, profile_.bootloaderVersion);
    append(payload, profile_.hardwareVersion);
    payload.push_back(profile_.compatibility);
    return reply(request, status::kOk, std::move(payload));
}

Outcome BootloaderModel::getAppInfo(const WireRequest& request) const {
    if (!request.payload.empty()) {
        return reply(request, status::kBadLength);
    }
    std::vector<std::uint8_t> payload(20, 0);
    if (application_.valid) {
        payload[0] = 1;
        payload[1] = 1;
        std::copy(application_.hardwareInterface.begin(), application_.hardwareInterface.end(),
                  payload.begin() + 4);
        std::copy(application_.version.begin(), application_.version.end(), payload.begin() + 8);
        payload[12] = application_.compatibility;
    }
    return reply(request, status::kOk, std::move(payload));
}

Outcome BootloaderModel::getStatus(const WireRequest& request) const {
    if (!request.payload.empty()) {
        return reply(request, status::kBadLength);
    }
    std::vector<std::uint8_t> payload{status_.state,
                                      static_cast<std::uint8_t>(status_.active),
                                      status_.lastCommand,
                                      status_.lastStatus,
                                      0,
                                      0,
                                      0,
                                      0};
    putLe32(payload, status_.expected);
    putLe32(payload, status_.received);
    payload.resize(20, 0);
    return reply(request, status::kOk, std::move(payload));
}

Outcome BootloaderModel::startUpdate(const WireRequest& request) {
    const std::vector<std::uint8_t>& p = request.payload;
    if (p.size() != 6) {
        return reply(request, status::kBadLength);
    }
    if (p[0] != 1 || p[1] == 0) {
        return reply(request, status::kBadVersion);
    }
    if (status_.active || status_.state != transfer_state::kIdle) {
        return reply(request, status::kBusy);
    }
    const std::uint32_t size = getLe32(p, 2);
    if (size == 0 || size > profile_.maxImageSize) {
        return reply(request, status::kBadSize);
    }
    status_.state = transfer_state::kReceiving;
    status_.active = true;
    status_.expected = size;
    status_.received = 0;
    image_.clear();
    image_.reserve(size);
    return reply(request, status::kOk);
}

Outcome BootloaderModel::failTransfer(const WireRequest& request, std::uint8_t statusCode,
                                      std::vector<std::uint8_t> payload) {
    status_.state = transfer_state::kError;
    status_.active = false;
    return reply(request, statusCode, std::move(payload));
}

Outcome BootloaderModel::dataChunk(const WireRequest& request) {
    const std::vector<std::uint8_t>& p = request.payload;
    if (!transferActive()) {
        return reply(request, status::kNotActive);
    }
    if (p.size() < kChunkHeader || p[4] == 0 || p[4] > kMaxChunk ||
        p.size() != kChunkHeader + p[4]) {
        return reply(request, status::kBadLength);
    }
    const std::uint32_t offset = getLe32(p, 0);
    const std::uint32_t count = p[4];
    if (offset != status_.received) {
        return failTransfer(request, status::kOffsetMismatch);
    }
    if (count > status_.expected - status_.received) {
        return failTransfer(request, status::kSizeOverflow);
    }
    image_.insert(image_.end(), p.begin() + kChunkHeader, p.end());
    status_.received += count;
    return reply(request, status::kOk);
}

Outcome BootloaderModel::endUpdate(const WireRequest& request) {
    if (!request.payload.empty()) {
        return reply(request, status::kBadLength);
    }
    if (!transferActive()) {
        return reply(request, status::kNotActive);
    }
    std::vector<std::uint8_t> payload;
    putLe32(payload, status_.expected);
    putLe32(payload, 0);
    putLe32(payload, status_.received);
    if (status_.received < status_.expected) {
        return failTransfer(request, status::kIncomplete, std::move(payload));
    }
    const ImageInfo info = inspectImage(image_);
    if (info.kind == ImageKind::Damaged) {
        return failTransfer(request, status::kSbsfuError, std::move(payload));
    }
    if (info.kind == ImageKind::Tagged && info.header.compatibility != profile_.compatibility) {
        return failTransfer(request, status::kCompatMismatch, std::move(payload));
    }
    application_.valid = true;
    application_.compatibility = profile_.compatibility;
    if (info.kind == ImageKind::Tagged) {
        application_.version = info.header.version;
        if (info.header.hardwareInterface) {
            application_.hardwareInterface = *info.header.hardwareInterface;
        }
    }
    status_.state = transfer_state::kFinished;
    status_.active = false;
    return reply(request, status::kOk, std::move(payload), Effect::Installed);
}

Outcome BootloaderModel::abortUpdate(const WireRequest& request) {
    if (!request.payload.empty()) {
        return reply(request, status::kBadLength);
    }
    status_.state = transfer_state::kIdle;
    status_.active = false;
    status_.expected = 0;
    status_.received = 0;
    image_.clear();
    return reply(request, status::kOk);
}

Outcome BootloaderModel::startApp(const WireRequest& request, Effect effect) const {
    if (!request.payload.empty()) {
        return reply(request, status::kBadLength);
    }
    if (transferActive()) {
        return reply(request, status::kBusy);
    }
    if (!application_.valid) {
        return reply(request, status::kNotActive);
    }
    return reply(request, status::kOk, {}, effect);
}

}  // namespace velkora::sim
