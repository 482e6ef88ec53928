// Hashing a 64 MiB firmware image: sha256Hex on the image in memory against the `openssl dgst
// -sha256` command on the same bytes in a file (page cache warm). Each iteration times both, and
// the command once more on an empty file, whose time is its process start-up and is taken off
// before the two throughputs are compared; the target is at least 0.9 of openssl's. The figures
// are published as counters (sha256_MiB_per_s, openssl_MiB_per_s, ratio_vs_openssl), so that
// scripts/bench can put them in its table.
//
// The peak resident memory of loading a package with such an image (manifest, image read,
// SHA-256 proof) is measured from the kernel's high-water mark, which is reset first; the
// target is at most the image size plus 1 MiB. Linux only.
//
//   build/bench/bin/sha256_bench [--benchmark_repetitions=3 ...]

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/common/run_log.h"
#include "package/firmware_package.h"
#include "package/sha256_hex.h"
#include "platform/clock.h"

namespace {

constexpr std::size_t kImageBytes = 64u * 1024 * 1024;
constexpr double kThroughputTarget = 0.9;

// The image's bytes, the same on every run: a cheap pseudo-random sequence, so that nothing
// could shortcut repetitive input.
std::vector<std::uint8_t> makeImage() {
    std::vector<std::uint8_t> image(kImageBytes);
    std::uint32_t state = 0x2545F491u;
    for (std::uint8_t& byte : image) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return image;
}

class BenchFolder {
  public:
    BenchFolder() {
        std::random_device seed;
        path_ = std::filesystem::temp_directory_path() /
                ("velkora-sha256-bench-" + std::to_string(seed()));
        std::filesystem::create_directories(path_ / "firmware");
    }
    ~BenchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const void* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// Peak and current resident set in KiB from /proc/self/status.
long statusKiB(const std::string& field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

bool resetPeakResidentSet() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// The verdicts of the last measurements; empty when a benchmark was filtered out.
struct Targets {
    std::optional<bool> memoryMet;
    std::optional<bool> throughputMet;
};

class WallClock : public velkora::platform::Clock {
  public:
    std::uint32_t tickCount32() override { return 0; }
    std::uint64_t tickCount64() override { return 0; }
    void sleepMs(std::uint32_t) override {}
    std::time_t calendarTime() override { return std::time(nullptr); }
};

// The peak resident growth of loading the package; the image only ever lives in the package.
void measureLoadingPeak(benchmark::State& state, const std::filesystem::path& programFolder,
                        Targets& targets) {
    WallClock clock;
    velkora::RunLog log = velkora::openRunLog(programFolder, clock);
    for (auto _ : state) {
        if (!resetPeakResidentSet()) {
            state.SkipWithError("cannot reset the peak resident set");
            targets.memoryMet = false;
            return;
        }
        const long before = statusKiB("VmHWM");
        long after = 0;
        {
            const auto package = velkora::loadFirmwarePackage(programFolder, log);
            after = statusKiB("VmHWM");
            if (!package || package->image.size() != kImageBytes) {
                state.SkipWithError("the package did not load");
                targets.memoryMet = false;
                return;
            }
        }
        const long growth = after - before;
        const long limit = static_cast<long>(kImageBytes / 1024) + 1024;
        targets.memoryMet = growth <= limit;
        state.counters["rss_growth_KiB"] = static_cast<double>(growth);
        state.counters["rss_limit_KiB"] = static_cast<double>(limit);
    }
}

using Seconds = std::chrono::duration<double>;

template <typename Work>
double secondsOf(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return Seconds(std::chrono::steady_clock::now() - start).count();
}

// Our digest, openssl's on the image and openssl's on an empty file, one after the other in
// every iteration, so that a change in the machine's load touches both sides alike. The
// benchmark's own time is that of sha256Hex.
void compareWithOpenssl(benchmark::State& state, const std::vector<std::uint8_t>& image,
                        const std::filesystem::path& imagePath,
                        const std::filesystem::path& emptyPath, Targets& targets) {
    const std::string onImage = "openssl dgst -sha256 " + quoted(imagePath) + " > /dev/null";
    const std::string onEmpty = "openssl dgst -sha256 " + quoted(emptyPath) + " > /dev/null";
    double ours = 0;
    double openssl = 0;
    double startup = 0;
    for (auto _ : state) {
        const double hashing =
            secondsOf([&image] { benchmark::DoNotOptimize(velkora::sha256Hex(image)); });
        bool commandsRan = true;
        openssl += secondsOf([&] { commandsRan = std::system(onImage.c_str()) == 0; });
        startup +=
            secondsOf([&] { commandsRan = commandsRan && std::system(onEmpty.c_str()) == 0; });
        if (!commandsRan) {
            state.SkipWithError("openssl dgst failed");
            targets.throughputMet = false;
            return;
        }
        ours += hashing;
        state.SetIterationTime(hashing);
    }
    const double iterations = static_cast<double>(state.iterations());
    const double mib = static_cast<double>(kImageBytes) / (1024 * 1024) * iterations;
    if (openssl <= startup) {
        state.SkipWithError("openssl's start-up outweighed its hashing; not measured");
        targets.throughputMet = false;
        return;
    }
    const double oursRate = mib / ours;
    const double opensslRate = mib / (openssl - startup);
    const double ratio = oursRate / opensslRate;
    targets.throughputMet = ratio >= kThroughputTarget;
    state.counters["sha256_MiB_per_s"] = oursRate;
    state.counters["openssl_MiB_per_s"] = opensslRate;
    state.counters["openssl_with_startup_MiB_per_s"] = mib / openssl;
    state.counters["ratio_vs_openssl"] = ratio;
    state.counters["ratio_target"] = kThroughputTarget;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    BenchFolder folder;
    const std::filesystem::path imagePath = folder.path() / "firmware" / "fw.sfb";
    const std::filesystem::path emptyPath = folder.path() / "empty.bin";
    const std::filesystem::path digestPath = folder.path() / "digest.txt";
    std::string digest;
    {
        const std::vector<std::uint8_t> image = makeImage();
        writeFile(imagePath, image.data(), image.size());
        writeFile(emptyPath, "", 0);
        digest = velkora::sha256Hex(image);
    }
    // openssl's own digest of the file proves that both sides hash the same bytes.
    if (std::system(("openssl dgst -sha256 -r " + quoted(imagePath) + " > " + quoted(digestPath))
                        .c_str()) != 0) {
        std::cerr << "openssl dgst could not be run\n";
        return 1;
    }
    std::ifstream digestFile(digestPath);
    std::string opensslDigest;
    digestFile >> opensslDigest;
    for (char& c : opensslDigest) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (opensslDigest != digest) {
        std::cerr << "openssl dgst computed " << opensslDigest << ", sha256Hex " << digest << "\n";
        return 1;
    }
    const std::string manifest =
        R"({"package_format":"zuq_hid_sbsfu_update","product":"ZUQ","firmware_version":"1.0.0",)"
        R"("sfb_file":"fw.sfb","package_compatibility":"0x01","sfb_sha256":")" +
        digest + "\"}";
    writeFile(folder.path() / "firmware" / "update_manifest.json", manifest.data(),
              manifest.size());

    Targets targets;
    const auto loadingPeak = [&folder, &targets](benchmark::State& state) {
        measureLoadingPeak(state, folder.path(), targets);
    };
    benchmark::RegisterBenchmark("PackageLoadingPeak64MiB", loadingPeak)->Iterations(1);

    const std::vector<std::uint8_t> image = makeImage();
    const auto comparison = [&](benchmark::State& state) {
        compareWithOpenssl(state, image, imagePath, emptyPath, targets);
    };
    benchmark::RegisterBenchmark("Sha256VsOpensslDgst64MiB", comparison)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto verdict = [](const std::optional<bool>& met) {
        return !met ? "not measured" : *met ? "met" : "MISSED";
    };
    std::cout << "memory (peak resident growth at most the image plus 1 MiB): "
              << verdict(targets.memoryMet) << "\n"
              << "throughput (at least " << kThroughputTarget
              << " of openssl dgst without its start-up): " << verdict(targets.throughputMet)
              << "\n";
    return targets.memoryMet == false || targets.throughputMet == false ? 1 : 0;
}
