#include "sim/application_model.h"

namespace velkora::sim {

ApplicationModel::ApplicationModel(const ApplicationProfile& profile, std::string faultDump,
                                   const std::array<ConfigItemProfile, kConfigItemCount>& config)
    : profile_(profile), faultDump_(std::move(faultDump)) {
    for (std::size_t i = 0; i < kConfigItemCount; ++i) {
        config_.present[i] = config[i].present;
        config_.stored[i] = config[i].stored;
        config_.defaults[i] = config[i].defaultValue;
    }
    config_.working = config_.stored;
}

void ApplicationModel::start() {
    config_.working = config_.stored;
}

Outcome ApplicationModel::handle(const WireRequest& request) {
    if (const auto problem = frameProblem(request)) {
        return reply(request, *problem);
    }
    return dispatch(request);
}

Outcome ApplicationModel::dispatch(const WireRequest& request) {
    const bool empty = request.payload.empty();
    switch (request.command) {
        case command::kFaultDump:
            return empty ? reply(request, status::kOk, {}, Effect::StreamDump)
                         : reply(request, status::kBadLength);
        case command::kExit:
            if (!empty) {
                return reply(request, status::kBadLength);
            }
            ++exits_;
            return reply(request, status::kOk, {}, Effect::Exit);
        case command::kClearFaults:
            if (!empty) {
                return reply(request, status::kBadLength);
            }
            ++clears_;
            faultDump_ = emptyFaultDump();
            return reply(request, status::kOk);
        case command::kAppGetInfo:
            return getInfo(request);
        case command::kGetConfig:
            return getConfig(request);
        case command::kSetConfigItem:
            return setConfigItem(request);
        case command::kStoreConfig:
            if (!empty) {
                return reply(request, status::kBadLength);
            }
            ++stores_;
            config_.stored = config_.working;
            return reply(request, status::kOk, {}, Effect::Store);
        case command::kResetConfig:
            if (!empty) {
                return reply(request, status::kBadLength);
            }
            config_.working = config_.defaults;
            return reply(request, status::kOk);
        default:
            return reply(request, status::kUnknownCommand);
    }
}

Outcome ApplicationModel::getInfo(const WireRequest& request) const {
    if (!request.payload.empty()) {
        return reply(request, status::kBadLength);
    }
    std::vector<std::uint8_t> payload(profile_.identity.begin(), profile_.identity.end());
    payload.resize(4, 0);
    payload.push_back(0x00);
    payload.push_back(profile_.wireFormat);
    payload.insert(payload.end(), profile_.infoTail.begin(), profile_.infoTail.end());
    return reply(request, status::kOk, std::move(payload));
}

Outcome ApplicationModel::getConfig(const WireRequest& request) const {
    if (!request.payload.empty()) {
        return reply(request, status::kBadLength);
    }
    std::vector<std::uint8_t> payload{profile_.wireFormat, 0};
    for (std::size_t i = 0; i < kConfigItemCount; ++i) {
        if (config_.present[i]) {
            payload.push_back(static_cast<std::uint8_t>(i + 1));
            payload.push_back(config_.working[i]);
            ++payload[1];
        }
    }
    return reply(request, status::kOk, std::move(payload));
}

Outcome ApplicationModel::setConfigItem(const WireRequest& request) {
    const std::vector<std::uint8_t>& p = request.payload;
    if (p.size() != 2) {
        return reply(request, status::kBadLength);
    }
    const std::uint8_t id = p[0];
    if (id < 1 || id > kConfigItemCount || !config_.present[id - 1u]) {
        return reply(request, status::kBadItem);
    }
    if (p[1] >= kConfigValueCounts[id - 1u]) {
        return reply(request, status::kBadValue);
    }
    config_.working[id - 1u] = p[1];
    return reply(request, status::kOk);
}

}  // namespace velkora::sim
