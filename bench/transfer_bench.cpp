// The cost of talking to the adapter, from one exchange to a whole firmware transfer:
//   - HidExchange: host time of one request and its answer against an adapter that answers at
//     once, and the heap allocations it makes (counted by a replaced operator new; there
//     should be none, since the frame and the answer live on the stack);
//   - ChunkExchange: host time per DATA_CHUNK of the whole transfer of a 64 KiB image, with
//     sleeps that return at once, against the same adapter and against the simulated one in
//     virtual time (the simulator's model of the device added);
//   - Transfer64KiB: the same transfer against the simulated adapter in real time on a
//     full-speed bus, where each report crosses at a 1 ms frame boundary, beside the floor the
//     bus allows and the model's own time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <sstream>

#include "bootloader/firmware_transfer.h"
#include "common/run_log.h"
#include "sim/sim_environment.h"

namespace {

std::atomic<std::size_t> allocations{0};

}  // namespace

// GCC sees free() on memory from operator new once these are inlined and warns; the pair is
// malloc and free on both sides by construction.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace velkora {
namespace {

constexpr std::size_t kImageBytes = 64 * 1024;
constexpr double kChunks = (kImageBytes + 50) / 51;
// At best each chunk takes three frames (request, answer, and the 1 ms pause before the next
// request's frame); START_UPDATE, GET_STATUS and END_UPDATE two each, and the transfer pauses
// 30 ms before the first chunk and before END_UPDATE.
constexpr double kFloorMs = 3.0 * kChunks + 3 * 2.0 + 2 * 30.0;

// An adapter without latency: every request is answered OK as soon as it is written, after a
// report for another command when `foreignFirst` is set.
class ImmediateAdapter final : public platform::HidPort, public platform::HidConnection {
  public:
    bool foreignFirst = false;
    std::size_t chunks = 0;

    std::vector<platform::HidDeviceInfo> enumerate() override { return {}; }
    platform::HidOpenResult open(const platform::NativeString&) override {
        return {std::make_unique<Forward>(*this), {}};
    }
    platform::HidIoResult write(std::span<const std::uint8_t> report, std::uint32_t) override {
        command_ = report[request_offset::kCommand];
        sequence_ = report[request_offset::kSequence];
        chunks += command_ == 0x05 ? 1 : 0;
        foreignPending_ = foreignFirst;
        return {platform::HidIoResult::Status::Completed, kReportSize, {}};
    }
    platform::HidIoResult read(std::span<std::uint8_t> buffer, std::uint32_t) override {
        std::fill(buffer.begin(), buffer.end(), std::uint8_t{0});
        std::copy(kMagic.begin(), kMagic.end(), buffer.begin() + 1 + response_offset::kMagic);
        buffer[1 + response_offset::kVersion] = kProtocolVersion;
        buffer[1 + response_offset::kCommand] =
            foreignPending_ ? static_cast<std::uint8_t>(command_ + 1) : command_;
        buffer[1 + response_offset::kSequence] = sequence_;
        foreignPending_ = false;
        return {platform::HidIoResult::Status::Completed, kReportSize, {}};
    }

  private:
    struct Forward final : platform::HidConnection {
        explicit Forward(ImmediateAdapter& adapter) : to(adapter) {}
        platform::HidIoResult write(std::span<const std::uint8_t> r, std::uint32_t t) override {
            return to.write(r, t);
        }
        platform::HidIoResult read(std::span<std::uint8_t> b, std::uint32_t t) override {
            return to.read(b, t);
        }
        ImmediateAdapter& to;
    };
    bool foreignPending_ = false;
    std::uint8_t command_ = 0;
    std::uint8_t sequence_ = 0;
};

// Real tick counts, but sleeps that return at once: the pauses are the device's due, not the
// updater's work.
class NoPauseClock final : public platform::Clock {
  public:
    std::uint32_t tickCount32() override { return static_cast<std::uint32_t>(tickCount64()); }
    std::uint64_t tickCount64() override {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
    void sleepMs(std::uint32_t) override {}
    std::time_t calendarTime() override { return 0; }
};

class NoKeys final : public platform::ConsoleKeys {
  public:
    bool keyWaiting() override { return false; }
    int readKey() override { return -1; }
};

// The transfer's surroundings: a console that keeps nothing, a run log in a scratch folder.
struct Bench {
    Bench(platform::Clock& clock, platform::HidPort& hid)
        : services{clock, hid, keys, platform::systemHost(), in, out},
          folder(std::filesystem::temp_directory_path() /
                 ("velkora-bench-" + std::to_string(std::random_device{}()))),
          log(openRunLog(folder, clock)) {}
    ~Bench() { std::filesystem::remove_all(folder); }

    EndUpdateResult transfer(const std::string& path = {}) {
        HidHandle handle = openHidDevice(services, path);
        std::uint8_t sequence = 4;
        return transferFirmware(services, handle, image, {2, 0x01, 0x01}, sequence, log);
    }

    NoKeys keys;
    std::istringstream in;
    std::ostringstream out;
    platform::Services services;
    std::filesystem::path folder;
    RunLog log;
    std::vector<std::uint8_t> image = std::vector<std::uint8_t>(kImageBytes, 0x5A);
};

void BM_HidExchange(benchmark::State& state) {
    NoPauseClock clock;
    ImmediateAdapter adapter;
    adapter.foreignFirst = state.range(0) != 0;
    HidHandle handle(adapter.open({}).connection, clock);
    const std::array<std::uint8_t, 51> payload{};
    std::uint8_t sequence = 0;
    const std::size_t before = allocations.load();
    for (auto _ : state) {
        benchmark::DoNotOptimize(hidExchange(handle, 0x04, sequence++, payload, 3000));
    }
    state.counters["allocations_per_exchange"] =
        static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations());
}

void BM_ChunkExchange(benchmark::State& state) {
    std::chrono::steady_clock::duration spent{};
    std::size_t chunks = 0;
    for (auto _ : state) {
        state.PauseTiming();
        NoPauseClock clock;
        ImmediateAdapter immediate;
        sim::SimEnvironment sim(sim::defaultAdapterProfile());
        const bool simulated = state.range(0) != 0;
        Bench bench(simulated ? static_cast<platform::Clock&>(sim.clock()) : clock,
                    simulated ? static_cast<platform::HidPort&>(sim.bus()) : immediate);
        const std::string path = simulated ? sim.bus().enumerate().front().path : "";
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(bench.transfer(path));
        spent += std::chrono::steady_clock::now() - start;
        chunks += simulated ? static_cast<std::size_t>(kChunks) : immediate.chunks;
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["us_per_exchange"] =
        std::chrono::duration<double, std::micro>(spent).count() / (kChunks * iterations);
    // A transfer cut short cannot pass for a fast one.
    state.counters["chunks_per_transfer"] = static_cast<double>(chunks) / iterations;
}

double transferMs(sim::Timeline::Mode mode) {
    sim::AdapterProfile profile = sim::defaultAdapterProfile();
    profile.timing.usbFrames = true;
    sim::SimEnvironment sim(std::move(profile), {mode, 0, 0});
    Bench bench(sim.clock(), sim.bus());
    const sim::Micros start = sim.timeline().now();
    bench.transfer(sim.bus().enumerate().front().path);
    return static_cast<double>(sim.timeline().now() - start) / 1000.0;
}

void BM_Transfer64KiB(benchmark::State& state) {
    const double modelMs = transferMs(sim::Timeline::Mode::Virtual);
    double measuredMs = 0;
    for (auto _ : state) {
        measuredMs = transferMs(sim::Timeline::Mode::RealTime);
        state.SetIterationTime(measuredMs / 1000.0);
    }
    state.counters["floor_ms"] = kFloorMs;
    state.counters["model_ms"] = modelMs;
    state.counters["ratio"] = measuredMs / kFloorMs;
}

BENCHMARK(BM_HidExchange)
    ->ArgName("foreign_first")
    ->Arg(0)
    ->Arg(1)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ChunkExchange)
    ->ArgName("simulated")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_Transfer64KiB)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace velkora

BENCHMARK_MAIN();
