// The firmware transfer of a 64 KiB image against the simulated adapter in real time, on a
// full-speed USB bus where every report crosses at the next 1 ms frame boundary, in each
// direction. Reported beside the floor that the bus model allows and the same transfer run
// through the model in virtual time, where the updater itself takes no time at all.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/common/run_log.h"
#include "bench/run_bench_support.h"
#include "bootloader/firmware_transfer.h"
#include "hid/hid_device.h"
#include "sim/sim_environment.h"

namespace velkora::bench {
namespace {

constexpr std::size_t kImageBytes = 64 * 1024;

// At best, each chunk takes three frames: its request crosses at one frame boundary, the
// answer at the next, and after the mandated 1 ms pause the next request waits for the frame
// after that. START_UPDATE, the GET_STATUS after the data and END_UPDATE take two frames
// each, and the transfer pauses 30 ms before the first chunk and before END_UPDATE.
constexpr double kFloorMs = 3.0 * chunksOf(kImageBytes) + 3 * 2.0 + 2 * 30.0;

struct TransferTiming {
    double ms = 0;
    // Chunks that crossed the bus more than three frames after the one before, each a frame or
    // more lost to the host's thread running late, and the longest such gap.
    double lateChunks = 0;
    double longestChunkGapMs = 0;
};

TransferTiming transferTiming(sim::Timeline::Mode mode) {
    sim::AdapterProfile profile = sim::defaultAdapterProfile();
    profile.timing.usbFrames = true;
    sim::SimEnvironment sim(std::move(profile), {mode, 0, 0});
    BenchServices bench(sim.clock(), sim.bus());
    platform::Services& services = bench.services();
    RunLog log = openRunLog(bench.folder(), sim.clock());
    HidHandle handle = openHidDevice(services, sim.bus().enumerate().front().path);
    const std::vector<std::uint8_t> image(kImageBytes, 0x5A);
    std::uint8_t sequence = 4;

    const sim::Micros start = sim.timeline().now();
    transferFirmware(services, handle, image, {2, 0x01, 0x01}, sequence, log);
    TransferTiming timing;
    timing.ms = static_cast<double>(sim.timeline().now() - start) / 1000.0;

    constexpr std::uint8_t kDataChunk = 0x05;
    std::optional<sim::Micros> previous;
    for (const sim::ReceivedRequest& request : sim.adapter().requests()) {
        if (request.request.command != kDataChunk) {
            continue;
        }
        if (previous) {
            const sim::Micros gap = request.at - *previous;
            timing.lateChunks += gap > sim::fromMs(3) ? 1 : 0;
            timing.longestChunkGapMs =
                std::max(timing.longestChunkGapMs, static_cast<double>(gap) / 1000.0);
        }
        previous = request.at;
    }
    return timing;
}

void BM_Transfer64KiBOnFullSpeedBus(benchmark::State& state) {
    const double modelMs = transferTiming(sim::Timeline::Mode::Virtual).ms;
    TransferTiming measured;
    for (auto _ : state) {
        measured = transferTiming(sim::Timeline::Mode::RealTime);
        state.SetIterationTime(measured.ms / 1000.0);
    }
    state.counters["floor_ms"] = kFloorMs;
    state.counters["model_ms"] = modelMs;
    state.counters["measured_ms"] = measured.ms;
    state.counters["ratio"] = measured.ms / kFloorMs;
    state.counters["late_chunks"] = measured.lateChunks;
    state.counters["longest_chunk_gap_ms"] = measured.longestChunkGapMs;
}

BENCHMARK(BM_Transfer64KiBOnFullSpeedBus)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace velkora::bench

BENCHMARK_MAIN();
