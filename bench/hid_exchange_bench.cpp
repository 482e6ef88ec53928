// Host overhead of one request/response exchange, with a port that answers at once: what the
// exchange itself costs on top of the device's latency. Heap allocations are counted through
// a replaced global operator new; the exchange should make none, since the frame and the
// response record live on the stack.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <new>

#include "bench/immediate_connection.h"
#include "hid/hid_exchange.h"

namespace {

std::atomic<std::size_t> allocations{0};

}  // namespace

// GCC sees free() on memory from operator new once these are inlined into their callers and
// warns; here the pair is malloc/free on both sides by construction.
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

namespace {

class StillClock final : public velkora::platform::Clock {
  public:
    std::uint32_t tickCount32() override { return 1000; }
    std::uint64_t tickCount64() override { return 1000; }
    void sleepMs(std::uint32_t) override {}
    std::time_t calendarTime() override { return 0; }
};

void exchange(benchmark::State& state, bool foreignFirst) {
    StillClock clock;
    velkora::HidHandle handle(std::make_unique<velkora::bench::ImmediateConnection>(
                                  velkora::bench::ImmediateConnection::Options{
                                      .foreignFirst = foreignFirst, .payloadLength = 4}),
                              clock);
    const std::array<std::uint8_t, 51> payload{};  // a firmware chunk's size
    std::uint8_t sequence = 0;

    const std::size_t before = allocations.load();
    for (auto _ : state) {
        velkora::HidResponse response =
            velkora::hidExchange(handle, 0x04, sequence++, payload, 3000);
        benchmark::DoNotOptimize(response);
    }
    state.counters["allocations_per_exchange"] =
        static_cast<double>(allocations.load() - before) / static_cast<double>(state.iterations());
}

void BM_HidExchange(benchmark::State& state) {
    exchange(state, false);
}
void BM_HidExchangeSkippingOneReport(benchmark::State& state) {
    exchange(state, true);
}

BENCHMARK(BM_HidExchange)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_HidExchangeSkippingOneReport)->Repetitions(10)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
