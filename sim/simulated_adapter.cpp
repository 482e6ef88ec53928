#include "sim/simulated_adapter.h"

#include <algorithm>
#include <string>

namespace velkora::sim {
namespace {

Micros nextFrameBoundary(Micros t) {
    return (t / kMicrosPerMs + 1) * kMicrosPerMs;
}

std::string extraDumpText(std::uint32_t number) {
    return "EXTRA REPORT " + std::to_string(number) + "\r\n";
}

}  // namespace

SimulatedAdapter::SimulatedAdapter(Timeline& timeline, AdapterProfile profile)
    : timeline_(timeline),
      profile_(std::move(profile)),
      bootloader_(profile_.bootloader, profile_.application),
      application_(profile_.application, profile_.faultDump, profile_.config),
      faults_(profile_.faults) {
    if (profile_.timing.plugInMs == 0) {
        identity_ = profile_.identity.initial;
    }
}

void SimulatedAdapter::hostStartedListing() {
    if (listed_) {
        return;
    }
    listed_ = true;
    if (profile_.timing.plugInMs > 0 && profile_.identity.initial != Identity::Absent) {
        const std::uint64_t expected = presence_;
        timeline_.schedule(timeline_.now() + fromMs(profile_.timing.plugInMs), [this, expected] {
            if (presence_ == expected && identity_ == Identity::Absent) {
                appear(profile_.identity.initial);
            }
        });
    }
}

std::optional<PresentInterface> SimulatedAdapter::presentInterface() const {
    if (identity_ == Identity::Absent) {
        return std::nullopt;
    }
    const bool bootloader = identity_ == Identity::Bootloader;
    const IdentityProfile& id = profile_.identity;
    platform::HidDeviceInfo info{
        platform::fromUtf8(bootloader ? id.bootloaderPath : id.managementPath), id.manufacturer,
        bootloader ? id.bootloaderProduct : id.managementProduct, id.serial};
    return PresentInterface{std::move(info), presence_};
}

void SimulatedAdapter::vanish() {
    identity_ = Identity::Absent;
    ++presence_;
}

void SimulatedAdapter::appear(Identity identity) {
    identity_ = identity;
    ++presence_;
    if (identity == Identity::Application) {
        application_.start();
    } else {
        bootloader_.restart();
    }
}

// The adapter leaves the bus at `at` and, when asked, comes back in the given identity after
// re-enumerating. Anything else that moves the adapter in between cancels the rest.
void SimulatedAdapter::vanishAt(Micros at, std::optional<Identity> comeBackAs,
                                std::uint32_t afterMs) {
    const std::uint64_t expected = presence_;
    timeline_.schedule(at, [this, expected, comeBackAs, afterMs] {
        if (presence_ != expected) {
            return;
        }
        vanish();
        if (!comeBackAs) {
            return;
        }
        const std::uint64_t gone = presence_;
        const Identity identity = *comeBackAs;
        timeline_.schedule(timeline_.now() + fromMs(afterMs), [this, gone, identity] {
            if (presence_ == gone) {
                appear(identity);
            }
        });
    });
}

// Reports leave in order. With the USB timing model each crosses the bus at a 1 ms frame
// boundary of its own, as on a full-speed interrupt endpoint.
Micros SimulatedAdapter::sendAt(Micros ready, const InputReport& report) {
    Micros at = std::max(ready, lastReportAt_);
    if (profile_.timing.usbFrames) {
        at = nextFrameBoundary(at);
    }
    lastReportAt_ = at;
    const std::uint64_t presence = presence_;
    timeline_.schedule(at, [this, presence, report] {
        if (isPresent(presence) && output_) {
            output_(presence, report);
        }
    });
    return at;
}

Outcome SimulatedAdapter::handleRequest(const WireRequest& request) {
    return identity_ == Identity::Bootloader ? bootloader_.handle(request)
                                             : application_.handle(request);
}

void SimulatedAdapter::receive(std::uint64_t presence, std::span<const std::uint8_t> report) {
    receive(presence, report, timeline_.now());
}

void SimulatedAdapter::receive(std::uint64_t presence, std::span<const std::uint8_t> report,
                               Micros arrivedAt) {
    if (!isPresent(presence)) {
        return;
    }
    const WireRequest request = decodeRequest(report);
    requests_.push_back(ReceivedRequest{arrivedAt, identity_, request});
    const ResponsePlan plan = faults_.planFor(request.command);

    if (plan.unplug) {
        vanish();
        if (plan.replugAfterMs > 0) {
            const std::uint64_t gone = presence_;
            timeline_.schedule(arrivedAt + fromMs(plan.replugAfterMs), [this, gone] {
                if (presence_ == gone) {
                    appear(Identity::Bootloader);
                }
            });
        }
        return;
    }

    Outcome outcome = plan.execute ? handleRequest(request)
                                   : reply(request, plan.answer.status.value_or(status::kOk));
    omitConfigItems(outcome.answer, plan.omittedItems);
    std::uint32_t workMs = profile_.timing.responseMs + plan.delayMs;
    if (request.command == command::kEndUpdate && identity_ == Identity::Bootloader) {
        workMs += profile_.timing.endUpdateMs;
    }
    const Micros ready = arrivedAt + fromMs(workMs);
    sendEarlierReports(request, plan, ready);

    Micros answeredAt = ready;
    if (!plan.answer.drop) {
        InputReport answer = encodeAnswer(outcome.answer);
        applyTweak(answer, plan.answer);
        answeredAt = sendAt(ready, answer);
    }
    if (plan.execute) {
        carryOut(outcome.effect, answeredAt, request, plan);
    }
}

// Late answers to an earlier request (same command, older sequence number) and answers to
// another command, sent before the real answer.
void SimulatedAdapter::sendEarlierReports(const WireRequest& request, const ResponsePlan& plan,
                                          Micros ready) {
    for (std::uint32_t i = plan.staleBefore; i > 0; --i) {
        const auto older = static_cast<std::uint8_t>(request.sequence - i);
        sendAt(ready, encodeAnswer(WireAnswer{request.command, older, status::kOk, {}}));
    }
    const std::uint8_t other =
        request.command == command::kGetStatus ? command::kGetInfo : command::kGetStatus;
    for (std::uint32_t i = 0; i < plan.foreignBefore; ++i) {
        sendAt(ready, encodeAnswer(WireAnswer{other, request.sequence, status::kOk, {}}));
    }
}

void SimulatedAdapter::carryOut(Effect effect, Micros answeredAt, const WireRequest& request,
                                const ResponsePlan& plan) {
    const TimingProfile& timing = profile_.timing;
    const Micros leaveAt = answeredAt + fromMs(timing.detachMs);
    switch (effect) {
        case Effect::None:
            break;
        case Effect::StartApp:
            vanishAt(leaveAt, std::nullopt, 0);
            break;
        case Effect::StartAppUsb:
            vanishAt(leaveAt, Identity::Application, timing.appEnumerationMs);
            break;
        case Effect::Installed:
            if (timing.afterInstall == AfterInstall::Bootloader) {
                vanishAt(leaveAt, Identity::Bootloader, timing.bootloaderEnumerationMs);
            } else if (timing.afterInstall == AfterInstall::Absent) {
                vanishAt(leaveAt, std::nullopt, 0);
            }
            break;
        case Effect::StreamDump:
            streamDump(answeredAt, request.sequence, plan);
            break;
        case Effect::Exit:
        case Effect::Store:
            vanishAt(leaveAt, Identity::Bootloader, timing.bootloaderEnumerationMs);
            break;
    }
}

// The dump follows its acknowledgement in reports of the configured sizes, one every
// interval, all carrying the command's sequence number. A newer FAULT_DUMP, or the interface
// going away, ends the stream.
void SimulatedAdapter::streamDump(Micros from, std::uint8_t sequence, const ResponsePlan& plan) {
    const std::uint64_t stream = ++dumpStream_;
    const std::uint64_t presence = presence_;
    const Micros interval = fromMs(profile_.timing.dumpIntervalMs);
    const std::vector<std::uint8_t>& sizes = profile_.timing.dumpChunkSizes;

    std::vector<std::string> pieces;
    const std::string& text = application_.faultDump();
    for (std::size_t offset = 0, k = 0; offset < text.size(); ++k) {
        const std::size_t size =
            std::clamp<std::size_t>(sizes[k % sizes.size()], 1, frame::kMaxPayload);
        pieces.push_back(text.substr(offset, size));
        offset += size;
    }
    for (std::uint32_t i = 1; i <= plan.extraAfterEnd; ++i) {
        pieces.push_back(extraDumpText(i));
    }

    Micros at = from;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        at += interval;
        const auto number = static_cast<std::uint32_t>(k + 1);
        InputReport report =
            encodeAnswer(WireAnswer{command::kFaultDump, sequence, status::kOk,
                                    std::vector<std::uint8_t>(pieces[k].begin(), pieces[k].end())});
        const Micros sendTime = profile_.timing.usbFrames ? nextFrameBoundary(at - 1) : at;
        const auto tweak = plan.dumpReports.find(number);
        if (tweak != plan.dumpReports.end()) {
            if (tweak->second.unplug) {
                // Pulled out in the middle of the dump: nothing more of it is sent.
                const std::uint32_t afterMs = tweak->second.replugAfterMs;
                vanishAt(sendTime,
                         afterMs > 0 ? std::optional<Identity>(Identity::Bootloader) : std::nullopt,
                         afterMs);
                break;
            }
            if (tweak->second.drop) {
                continue;
            }
            applyTweak(report, tweak->second);
        }
        lastReportAt_ = std::max(lastReportAt_, sendTime);
        timeline_.schedule(sendTime, [this, stream, presence, report] {
            if (stream == dumpStream_ && isPresent(presence) && output_) {
                output_(presence, report);
            }
        });
    }
}

}  // namespace velkora::sim
