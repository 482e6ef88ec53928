// Plays an arbitrary stream of device reports against the report exchange and everything that
// reads the device's answers: the exchange and the single read, the decoders of the
// bootloader's answers and their text forms, the whole firmware transfer with its busy
// recovery, the management commands, the fault-dump download and the configuration commands
// with their snapshot decoding. The input is a script: its
// first byte picks the operation, the rest says what each write and read of the connection
// meets (an answer to the request just written, a report of any bytes, a time-out, a failing
// device), so that the fuzzer reaches deep into each flow. Besides crashes, hangs and sanitizer
// findings it checks what must hold for any stream: a returned answer echoes its request, a
// transfer succeeds only on an END_UPDATE answered OK and never restarts or aborts more often
// than the recovery allows, a downloaded dump holds its end marker within the size limit, and a
// configuration snapshot holds only items and values that exist.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bootloader/bootloader_commands.h"
#include "bootloader/bootloader_records.h"
#include "bootloader/firmware_transfer.h"
#include "common/run_log.h"
#include "config/config_protocol.h"
#include "hid/hid_exchange.h"
#include "management/fault_dump_download.h"
#include "management/fault_dump_markers.h"
#include "management/management_commands.h"

namespace {

using velkora::platform::HidIoResult;
using Status = velkora::platform::HidIoResult::Status;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The script, read byte by byte; an exhausted script reads as zeros and says so.
class Script {
  public:
    Script(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool done() const { return position_ >= size_; }
    std::uint8_t next() { return done() ? 0 : data_[position_++]; }
    std::uint32_t next16() {
        const std::uint32_t low = next();
        return low | (std::uint32_t{next()} << 8);
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

// Virtual time: reads and sleeps move it on. The 32-bit count starts just before its wrap, so
// every exchange that lasts a few seconds crosses it.
class ScriptClock final : public velkora::platform::Clock {
  public:
    std::uint32_t tickCount32() override { return static_cast<std::uint32_t>(0xFFFFF000u + now_); }
    std::uint64_t tickCount64() override { return 1'000'000 + now_; }
    void sleepMs(std::uint32_t milliseconds) override { now_ += milliseconds; }
    std::time_t calendarTime() override { return 1'750'000'000; }

    void advance(std::uint64_t milliseconds) { now_ += milliseconds; }

  private:
    std::uint64_t now_ = 0;
};

// What the device does with the writes and reads of one connection, as the script says.
class ScriptedConnection final : public velkora::platform::HidConnection {
  public:
    ScriptedConnection(Script& script, ScriptClock& clock) : script_(script), clock_(clock) {}

    HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t timeoutMs) override {
        require(report.size() == velkora::kReportSize);
        lastCommand_ = report[5];
        lastSequence_ = report[6];
        written_.push_back(report[5]);
        const std::uint8_t outcome = script_.next();
        if (outcome < 240) {
            return {Status::Completed, 65, {}};
        }
        if (outcome < 244) {
            return {Status::Completed, 64, {}};
        }
        if (outcome < 248) {
            clock_.advance(timeoutMs);
            return {Status::TimedOut, 0, {}};
        }
        if (outcome < 252) {
            return {Status::Failed, 0, "Windows error 1167"};
        }
        return {Status::EventFailed, 0, {}};
    }

    HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t timeoutMs) override {
        if (script_.done()) {
            clock_.advance(timeoutMs);
            return {Status::TimedOut, 0, {}};
        }
        const std::uint8_t control = script_.next();
        const std::uint32_t delayMs = (control >> 3) * 200u;
        if (delayMs >= timeoutMs) {
            clock_.advance(timeoutMs);
            return {Status::TimedOut, 0, {}};
        }
        clock_.advance(delayMs);
        std::array<std::uint8_t, 65> report{};
        std::size_t length = 0;
        switch (control & 7) {
            case 0:
            case 1:
            case 2:
                length = answer(report, control & 1, lastSequence_);
                break;
            case 3:
            case 4:
                length = script_.next() % 66;
                for (std::size_t i = 0; i < length; ++i) {
                    report[i] = script_.next();
                }
                break;
            case 5:
                clock_.advance(timeoutMs - delayMs);
                return {Status::TimedOut, 0, {}};
            case 6:
                return script_.next() % 2 == 0
                           ? HidIoResult{Status::Failed, 0, "Windows error 31"}
                           : HidIoResult{Status::WaitFailed, 0, "Windows error 6"};
            default:
                // A late answer to the request before.
                length = answer(report, 0, static_cast<std::uint8_t>(lastSequence_ - 1));
                break;
        }
        const std::size_t copied = std::min(length, buffer.size());
        std::copy_n(report.begin(), copied, buffer.begin());
        return {Status::Completed, static_cast<std::uint32_t>(copied), {}};
    }

    const std::vector<std::uint8_t>& written() const { return written_; }

  private:
    // An answer to the last request: its status, mostly OK, and a payload from the script.
    std::size_t answer(std::array<std::uint8_t, 65>& report, bool withoutReportId,
                       std::uint8_t sequence) {
        const std::size_t b = withoutReportId ? 0 : 1;
        report[b + 0] = 'Z';
        report[b + 1] = 'U';
        report[b + 2] = 'Q';
        report[b + 3] = 1;
        report[b + 4] = lastCommand_;
        report[b + 5] = sequence;
        const std::uint8_t status = script_.next();
        report[b + 6] = status < 128 ? 0 : static_cast<std::uint8_t>(status & 0x1F);
        const std::uint8_t payload = script_.next() % 57;
        report[b + 7] = payload;
        for (std::size_t i = 0; i < payload && b + 8 + i < report.size(); ++i) {
            report[b + 8 + i] = script_.next();
        }
        return withoutReportId ? 64 : 65;
    }

    Script& script_;
    ScriptClock& clock_;
    std::uint8_t lastCommand_ = 0;
    std::uint8_t lastSequence_ = 0;
    std::vector<std::uint8_t> written_;
};

// The bus as the presence check after a failed download sees it.
class ScriptedPort final : public velkora::platform::HidPort {
  public:
    explicit ScriptedPort(Script& script) : script_(script) {}

    std::vector<velkora::platform::HidDeviceInfo> enumerate() override {
        switch (script_.next() % 3) {
            case 0:
                return {};
            case 1:
                return {{{}, "Velkora", "Velkora Management Interface", "2050384E3436"}};
            default:
                throw std::runtime_error("SetupDiGetClassDevs failed.");
        }
    }
    velkora::platform::HidOpenResult open(const velkora::platform::NativeString&) override {
        return {nullptr, "Windows error 2"};
    }

  private:
    Script& script_;
};

class NoKeys final : public velkora::platform::ConsoleKeys {
  public:
    bool keyWaiting() override { return false; }
    int readKey() override { return 0; }
};

class NoHost final : public velkora::platform::Host {
  public:
    velkora::platform::InstanceClaim claimSingleInstance() override { return {}; }
    std::filesystem::path programFolder() override { return {}; }
    std::string osVersionLine() override { return "OS version fuzz"; }
};

int count(const std::vector<std::uint8_t>& written, std::uint8_t command) {
    return static_cast<int>(std::count(written.begin(), written.end(), command));
}

void decodeEverything(const velkora::HidResponse& response) {
    require(response.length <= velkora::kReportSize);
    try {
        const velkora::BootloaderInfo info = velkora::parseBootloaderInfo(response);
        const std::string id = velkora::formatDeviceId(info.deviceId);
        require(id.empty() || id.size() == 17);
        velkora::formatVersion(info.bootloaderVersion);
        velkora::isSupportedBootloader(info);
    } catch (const std::runtime_error&) {
    }
    try {
        velkora::formatVersion(velkora::parseAppInfo(response).softwareVersion);
    } catch (const std::runtime_error&) {
    }
    try {
        const std::string summary =
            velkora::formatStatusSummary(velkora::parseBootloaderStatus(response));
        require(summary.starts_with("state="));
    } catch (const std::runtime_error&) {
    }
    velkora::parseEndUpdateResult(response);
    try {
        velkora::checkConfigResponse(response, response.command(), response.sequence(),
                                     response.payloadLength());
        require(response.magicMatches() && response.payloadLength() <= velkora::kMaxPayload);
    } catch (const std::runtime_error&) {
    }
    try {
        velkora::checkManagementResponse(response, response.command(), response.sequence(), "FUZZ");
        require(response.magicMatches() && response.responseStatus() == 0);
    } catch (const std::runtime_error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Script script(data, size);
    ScriptClock clock;
    ScriptedPort port(script);
    NoKeys keys;
    NoHost host;
    std::istringstream in;
    std::ostringstream out;
    velkora::platform::Services services{clock, port, keys, host, in, out};
    // A log that is never opened: its lines go nowhere, as when the disk is full.
    velkora::RunLog log({}, std::ofstream(), clock);

    auto owned = std::make_unique<ScriptedConnection>(script, clock);
    ScriptedConnection& connection = *owned;
    velkora::HidHandle handle(std::move(owned), clock);

    const std::uint8_t operation = script.next();
    try {
        switch (operation % 6) {
            case 0: {
                const std::uint8_t command = script.next();
                const std::uint8_t sequence = script.next();
                const std::vector<std::uint8_t> payload(script.next() % 60, 0xA5);
                const std::uint32_t timeout = script.next16();
                const velkora::HidResponse response =
                    velkora::hidExchange(handle, command, sequence, payload, timeout);
                require(payload.size() <= velkora::kMaxPayload);
                require(response.headerComplete() && response.command() == command &&
                        response.sequence() == sequence);
                decodeEverything(response);
                break;
            }
            case 1: {
                std::array<std::uint8_t, 65> buffer{};
                const std::size_t wanted = script.next() % 66;
                const std::uint32_t read = velkora::hidReadReport(
                    handle, std::span(buffer).first(wanted), script.next16());
                require(read <= wanted);
                break;
            }
            case 2: {
                std::vector<std::uint8_t> image(script.next() % 160, 0x5A);
                const std::uint8_t firmware = script.next() % 2 == 0 ? 0x03 : 0x04;
                const velkora::TransferTarget target{2, 0x03, firmware};
                std::uint8_t sequence = script.next();
                const velkora::EndUpdateResult result =
                    velkora::transferFirmware(services, handle, image, target, sequence, log);
                require(result.status == 0);
                require(count(connection.written(), 0x06) == 1);
                require(static_cast<std::size_t>(count(connection.written(), 0x05)) ==
                        (image.size() + 50) / 51);
                require(out.str().ends_with("Sending firmware: 100%\n"));
                break;
            }
            case 3: {
                std::uint8_t sequence = script.next();
                const velkora::HidDeviceInfo expected{
                    {}, "Velkora", "Velkora Management Interface", "2050384E3436"};
                const std::string dump =
                    velkora::downloadFaultDump(services, handle, sequence, expected, log);
                require(dump.size() <= velkora::fault_dump_limit::kMaxBytes);
                require(dump.find(velkora::kFaultDumpEndMarker) != std::string::npos);
                break;
            }
            case 4: {
                std::uint8_t sequence = script.next();
                const std::uint8_t first = sequence;
                const velkora::ConfigSnapshot snapshot =
                    velkora::readConfigSnapshot(handle, sequence);
                require(sequence == static_cast<std::uint8_t>(first + 1));
                for (std::uint8_t id = 1; id <= snapshot.size(); ++id) {
                    require(!snapshot[id - 1u] ||
                            *snapshot[id - 1u] < velkora::configItem(id).valueCount);
                }
                velkora::setConfigItem(handle, sequence, 1, 0);
                velkora::storeConfig(handle, sequence);
                break;
            }
            default: {
                std::uint8_t sequence = script.next();
                if (script.next() % 2 == 0) {
                    velkora::sendClearFaults(handle, sequence, log, out);
                }
                velkora::sendExit(handle, sequence, log);
                break;
            }
        }
    } catch (const std::runtime_error&) {
    }
    // The clean-up form never fails, whatever the device does.
    std::uint8_t sequence = 7;
    velkora::exitQuietly(handle, sequence, log);

    // The recovery restarts a transfer at most once and aborts at most once.
    require(count(connection.written(), 0x03) <= 2);
    require(count(connection.written(), 0x04) <= 1);
    return 0;
}
