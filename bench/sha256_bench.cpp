// The package check on a 64 MiB firmware image: loadFirmwarePackage (manifest, image read and
// hashed piece by piece) against the `openssl dgst -sha256` command on the same file, page
// cache warm. Each iteration times both, and the command once more on an empty file, whose
// time is its process start-up and is taken off before the two throughputs are compared; the
// target is at least 0.9 of openssl's. The manifest carries openssl's own digest, so a package
// that loads proves that both sides hashed the same bytes.
//
// openssl dgst keeps nothing, while the updater keeps the image: the first touch of 64 MiB of
// fresh memory (the kernel's page faults, some 40 ms here) is the price of holding it, not of
// checking it. The comparison therefore runs with the allocator keeping freed memory, so that
// every load after the first reads into memory that is already mapped. A load into fresh
// memory, page faults included, is the time of the memory benchmark, which runs first.
//
// The peak resident memory of one load is measured from the kernel's high-water mark, which
// is reset first; the target is at most the image size plus 1 MiB. The cryptography library
// is initialised before, since its one-time set-up is no part of a package. Linux only.
//
//   build/bench/bin/sha256_bench [--benchmark_repetitions=3 ...]

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/run_log.h"
#include "package/firmware_package.h"
#include "platform/clock.h"
#include "platform/sha256.h"

namespace {

constexpr std::size_t kImageBytes = 64u * 1024 * 1024;
constexpr double kThroughputTarget = 0.9;

// A cheap pseudo-random image, the same on every run, so that nothing could shortcut
// repetitive input.
void writeImage(const std::filesystem::path& path) {
    std::vector<std::uint8_t> image(kImageBytes);
    std::uint32_t state = 0x2545F491u;
    for (std::uint8_t& byte : image) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(kImageBytes));
}

std::string quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// The peak resident set in KiB from /proc/self/status.
long peakKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

template <typename Work>
double secondsOf(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class WallClock : public velkora::platform::Clock {
  public:
    std::uint32_t tickCount32() override { return 0; }
    std::uint64_t tickCount64() override { return 0; }
    void sleepMs(std::uint32_t) override {}
    std::time_t calendarTime() override { return std::time(nullptr); }
};

// The verdicts of the last measurements; empty when a benchmark was filtered out.
struct Targets {
    std::optional<bool> memoryMet;
    std::optional<bool> throughputMet;
};

struct Bench {
    explicit Bench(std::filesystem::path programFolder) : folder(std::move(programFolder)) {}

    std::filesystem::path folder;
    WallClock clock;
    velkora::RunLog log = velkora::openRunLog(folder, clock);
    Targets targets;

    bool loads() {
        const auto package = velkora::loadFirmwarePackage(folder, log);
        return package && package->image.size() == kImageBytes;
    }

    void measurePeak(benchmark::State& state) {
        for (auto _ : state) {
            std::ofstream("/proc/self/clear_refs") << "5";
            const long before = peakKiB();
            if (!loads()) {
                state.SkipWithError("the package did not load");
                return;
            }
            const long growth = peakKiB() - before;
            const long limit = static_cast<long>(kImageBytes / 1024) + 1024;
            targets.memoryMet = growth <= limit;
            state.counters["rss_growth_KiB"] = static_cast<double>(growth);
            state.counters["rss_limit_KiB"] = static_cast<double>(limit);
        }
    }

    // Ours, openssl's on the image and openssl's on an empty file, one after the other in every
    // iteration, so that a change in the machine's load touches both sides alike.
    void compareWithOpenssl(benchmark::State& state) {
        const std::string onImage =
            "openssl dgst -sha256 " + quoted(folder / "firmware" / "fw.sfb") + " > /dev/null";
        const std::string onEmpty = "openssl dgst -sha256 /dev/null > /dev/null";
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        loads();
        double ours = 0;
        double openssl = 0;
        double startup = 0;
        for (auto _ : state) {
            bool ran = true;
            const double loading = secondsOf([&] { ran = loads(); });
            openssl += secondsOf([&] { ran = ran && std::system(onImage.c_str()) == 0; });
            startup += secondsOf([&] { ran = ran && std::system(onEmpty.c_str()) == 0; });
            if (!ran) {
                state.SkipWithError("the package did not load, or openssl dgst failed");
                return;
            }
            ours += loading;
            state.SetIterationTime(loading);
        }
        const double mib = static_cast<double>(kImageBytes) / (1024 * 1024) *
                           static_cast<double>(state.iterations());
        const double ratio = (mib / ours) / (mib / (openssl - startup));
        targets.throughputMet = openssl > startup && ratio >= kThroughputTarget;
        state.counters["package_check_MiB_per_s"] = mib / ours;
        state.counters["openssl_MiB_per_s"] = mib / (openssl - startup);
        state.counters["ratio_vs_openssl"] = ratio;
        state.counters["ratio_target"] = kThroughputTarget;
    }
};

std::filesystem::path makeFolder() {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("velkora-sha256-bench-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(folder / "firmware");
    return folder;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    velkora::platform::Sha256().update({});
    const std::filesystem::path folder = makeFolder();
    const std::filesystem::path image = folder / "firmware" / "fw.sfb";
    writeImage(image);
    // openssl's digest goes into the manifest: only the same bytes hashed the same way load.
    const std::filesystem::path digestFile = folder / "digest.txt";
    std::string digest;
    if (std::system(
            ("openssl dgst -sha256 -r " + quoted(image) + " > " + quoted(digestFile)).c_str()) !=
            0 ||
        !(std::ifstream(digestFile) >> digest)) {
        std::cerr << "openssl dgst could not be run\n";
        return 1;
    }
    std::ofstream(folder / "firmware" / "update_manifest.json")
        << R"({"package_format":"zuq_hid_sbsfu_update","product":"ZUQ","firmware_version":)"
        << R"("1.0.0","sfb_file":"fw.sfb","package_compatibility":"0x01","sfb_sha256":")" << digest
        << "\"}";

    int result = 0;
    {
        Bench bench{folder};
        benchmark::RegisterBenchmark("PackageLoadingPeak64MiB", [&bench](benchmark::State& s) {
            bench.measurePeak(s);
        })->Iterations(1);
        benchmark::RegisterBenchmark("PackageCheckVsOpensslDgst64MiB",
                                     [&bench](benchmark::State& s) { bench.compareWithOpenssl(s); })
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        const auto verdict = [](const std::optional<bool>& met) {
            return !met ? "not measured" : *met ? "met" : "MISSED";
        };
        std::cout << "memory (peak resident growth at most the image plus 1 MiB): "
                  << verdict(bench.targets.memoryMet) << "\n"
                  << "throughput (at least " << kThroughputTarget
                  << " of openssl dgst without its start-up): "
                  << verdict(bench.targets.throughputMet) << "\n";
        result = bench.targets.memoryMet == false || bench.targets.throughputMet == false;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return result;
}
