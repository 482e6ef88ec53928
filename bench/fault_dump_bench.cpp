// Parsing and rendering the largest fault dump a device can send: 64 KiB holding as many records
// as the count line can announce (999), with colour codes, x fields and padding as real dumps
// have them. Targets: a median under 2 ms, and a heap peak under 1 MiB above the dump itself.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "management/fault_catalogue.h"
#include "management/fault_dump_markers.h"
#include "management/fault_dump_parser.h"
#include "management/fault_log_text.h"

// A counting allocator for the whole program: every allocation carries a header with its size,
// so the live heap bytes and their peak are known at any moment. It has to be global because
// it replaces the program's operator new.
namespace {

constexpr std::size_t kHeader = alignof(std::max_align_t);
std::size_t liveBytes = 0;
std::size_t peakBytes = 0;

void* countedAllocate(std::size_t size) {
    void* block = std::malloc(size + kHeader);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(block) = size;
    liveBytes += size;
    if (liveBytes > peakBytes) {
        peakBytes = liveBytes;
    }
    return static_cast<char*>(block) + kHeader;
}

void countedFree(void* pointer) {
    if (pointer == nullptr) {
        return;
    }
    void* block = static_cast<char*>(pointer) - kHeader;
    liveBytes -= *static_cast<std::size_t*>(block);
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
    return countedAllocate(size);
}
void* operator new[](std::size_t size) {
    return countedAllocate(size);
}
void operator delete(void* pointer) noexcept {
    countedFree(pointer);
}
void operator delete[](void* pointer) noexcept {
    countedFree(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    countedFree(pointer);
}
void operator delete[](void* pointer, std::size_t) noexcept {
    countedFree(pointer);
}

namespace {

constexpr std::size_t kDumpLimit = 65536;
constexpr std::size_t kPeakLimit = 1024 * 1024;

constexpr std::array<const char*, 21> kCodes{
    "FLT_BIG_OC",        "FLT_SM_OC",        "FLT_BG_SHTDN",    "FLT_SM_SHTDN",
    "FLT_TEMPERATURE",   "FLT_SM_ACTIVE",    "FLT_BG_ACTIVE",   "FLT_ISENSOR",
    "FLT_SM_OVERVOLT",   "FLT_OFF_OVERVOLT", "FLT_INTERROR_01", "FLT_WELDCKTFAIL",
    "FLT_BOARD_CURRENT", "CLEAN_RUN",        "FLT_DBG_ACCMODE", "PD_SOFT_RESET",
    "PD_HARD_RESET",     "PD3_CA_STATS",     "FLT_WELD",        "FLT_BG_OVERVOLT",
    "FLT_SWAP"};

// One record line of about the given length: every code in turn, the x field on every third,
// colour codes around the code on every other, trailing blanks to fill the line.
std::string recordLine(std::size_t number, std::size_t length) {
    const char* code = kCodes[number % kCodes.size()];
    const unsigned value2 = (number % 2 == 0) ? 1u : 0u;  // valid for every code's variants
    std::array<char, 128> line{};
    const char* open = (number % 2 == 0) ? "\x1B[1;31m" : "";
    const char* close = (number % 2 == 0) ? "\x1B[0m" : "";
    int written = 0;
    if (number % 3 == 0) {
        written = std::snprintf(line.data(), line.size(), "%03zu\t%s%s%s\t%03zu\t%05zu\t%05u",
                                number % 1000, open, code, close, number % 256,
                                (number * 37) % 100000, value2);
    } else {
        written = std::snprintf(line.data(), line.size(), "%03zu %s%s%s %05zu %05u", number % 1000,
                                open, code, close, (number * 37) % 100000, value2);
    }
    std::string text(line.data(), static_cast<std::size_t>(written));
    if (text.size() + 2 < length) {
        text.append(length - 2 - text.size(), ' ');
    }
    return text + "\r\n";
}

// A dump of `records` record lines filling close to 64 KiB, announcing `announced` of them.
std::string deviceSizedDump(std::size_t records, std::size_t announced) {
    std::string head =
        std::string(velkora::kFaultDumpBeginMarker) + "\x1B[1;37mVelkora Fault Log\x1B[0m\r\n";
    char count[8];
    std::snprintf(count, sizeof count, "%03zu\r\n", announced);
    head += count;
    const std::size_t room = kDumpLimit - head.size() - velkora::kFaultDumpEndMarker.size();
    std::string dump = head;
    for (std::size_t number = 1; number <= records; ++number) {
        dump += recordLine(number, room / records);
    }
    dump += velkora::kFaultDumpEndMarker;
    return dump;
}

void ParseAndRenderDeviceSizedDump(benchmark::State& state) {
    const std::string dump = deviceSizedDump(999, 999);
    if (dump.size() > kDumpLimit) {
        state.SkipWithError("the dump does not fit the download limit");
        return;
    }
    std::size_t worstPeak = 0;
    std::size_t textBytes = 0;
    for (auto _ : state) {
        const std::size_t baseline = liveBytes;
        peakBytes = liveBytes;
        {
            const std::vector<velkora::FaultRecord> records = velkora::parseFaultDump(dump);
            const std::string text =
                velkora::formatFaultLog(velkora::describeFaultRecords(records));
            textBytes = text.size();
            benchmark::DoNotOptimize(text.data());
        }
        worstPeak = std::max(worstPeak, peakBytes - baseline);
    }
    state.counters["dump_bytes"] = static_cast<double>(dump.size());
    state.counters["text_bytes"] = static_cast<double>(textBytes);
    state.counters["heap_peak_bytes"] = static_cast<double>(worstPeak);
    if (worstPeak >= kPeakLimit) {
        state.SkipWithError("heap peak above 1 MiB");
    }
}
BENCHMARK(ParseAndRenderDeviceSizedDump)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

// The refusal of a dump with more record lines than the count announces costs the same pass:
// 1,100 lines are read before the end line shows that they are too many.
void RefuseOverfullDump(benchmark::State& state) {
    const std::string dump = deviceSizedDump(1100, 999);
    for (auto _ : state) {
        try {
            benchmark::DoNotOptimize(velkora::parseFaultDump(dump));
            state.SkipWithError("an overfull dump was accepted");
        } catch (const std::runtime_error&) {
        }
    }
    state.counters["dump_bytes"] = static_cast<double>(dump.size());
}
BENCHMARK(RefuseOverfullDump)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(15)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
