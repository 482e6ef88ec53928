// Host CPU per DATA_CHUNK exchange: the updater's whole transfer of a 64 KiB image against an
// adapter that answers at once, with a clock whose sleeps return at once, so that neither the
// device's latency nor the mandated pauses count. What remains is the updater's own work per
// chunk: the payload, the frame, the write, the read and its matching, the status check and
// the percentage. The same transfer against the simulated adapter in virtual time shows the
// cost with the simulator's model of the device added.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

#include "app/common/run_log.h"
#include "bench/immediate_connection.h"
#include "bench/run_bench_support.h"
#include "bootloader/firmware_transfer.h"
#include "hid/hid_device.h"
#include "sim/sim_environment.h"

namespace velkora::bench {
namespace {

constexpr std::size_t kImageBytes = 64 * 1024;
constexpr double kExchanges = chunksOf(kImageBytes);

class ImmediatePort final : public platform::HidPort {
  public:
    std::vector<platform::HidDeviceInfo> enumerate() override { return {}; }
    platform::HidOpenResult open(const platform::NativeString&) override {
        return {
            std::make_unique<ImmediateConnection>(ImmediateConnection::Options{.chunks = &chunks}),
            {}};
    }

    std::size_t chunks = 0;
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

void reportPerExchange(benchmark::State& state, std::chrono::steady_clock::duration spent) {
    const double micros = std::chrono::duration<double, std::micro>(spent).count();
    state.counters["us_per_exchange"] =
        micros / (kExchanges * static_cast<double>(state.iterations()));
}

void BM_ChunkExchangeHostOnly(benchmark::State& state) {
    NoPauseClock clock;
    ImmediatePort port;
    BenchServices bench(clock, port);
    platform::Services& services = bench.services();
    RunLog log = openRunLog(bench.folder(), clock);
    HidHandle handle = openHidDevice(services, {});
    const std::vector<std::uint8_t> image(kImageBytes, 0x5A);
    std::uint8_t sequence = 4;

    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            transferFirmware(services, handle, image, {2, 0x01, 0x01}, sequence, log));
    }
    reportPerExchange(state, std::chrono::steady_clock::now() - start);
    // The chunks the adapter saw per transfer, so that a transfer cut short cannot pass for
    // a fast one.
    state.counters["chunks_per_transfer"] =
        static_cast<double>(port.chunks) / static_cast<double>(state.iterations());
}

void BM_ChunkExchangeWithSimulatedAdapter(benchmark::State& state) {
    const std::vector<std::uint8_t> image(kImageBytes, 0x5A);
    std::chrono::steady_clock::duration spent{};
    for (auto _ : state) {
        state.PauseTiming();
        sim::SimEnvironment sim(sim::defaultAdapterProfile());
        BenchServices bench(sim.clock(), sim.bus());
        platform::Services& services = bench.services();
        RunLog log = openRunLog(bench.folder(), sim.clock());
        HidHandle handle = openHidDevice(services, sim.bus().enumerate().front().path);
        std::uint8_t sequence = 4;
        state.ResumeTiming();

        const auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(
            transferFirmware(services, handle, image, {2, 0x01, 0x01}, sequence, log));
        spent += std::chrono::steady_clock::now() - start;
    }
    reportPerExchange(state, spent);
}

BENCHMARK(BM_ChunkExchangeHostOnly)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ChunkExchangeWithSimulatedAdapter)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace velkora::bench

BENCHMARK_MAIN();
