// Hashing a 64 MiB firmware image: sha256Hex on the image in memory against the `openssl dgst
// -sha256` command on the same bytes in a file (page cache warm). The command is started once
// per iteration, so its process start-up is measured separately on an empty file and taken off
// before the two throughputs are compared; the target is at least 0.9 of openssl's.
//
// Before the timed runs, the peak resident memory of loading a package with such an image
// (manifest, image read, SHA-256 proof) is measured from the kernel's high-water mark, which
// is reset first; the target is at most the image size plus 1 MiB. Linux only.
//
//   build/bench/bench/sha256_bench [--benchmark_repetitions=3 ...]

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_log.h"
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

// The peak resident growth of loading the package; the image only ever lives in the package.
bool measureLoadingPeak(const std::filesystem::path& programFolder) {
    class WallClock : public velkora::platform::Clock {
      public:
        std::uint32_t tickCount32() override { return 0; }
        std::uint64_t tickCount64() override { return 0; }
        void sleepMs(std::uint32_t) override {}
        std::time_t calendarTime() override { return std::time(nullptr); }
    } clock;
    velkora::RunLog log = velkora::openRunLog(programFolder, clock);
    if (!resetPeakResidentSet()) {
        std::cout << "memory: cannot reset the peak resident set; not measured\n";
        return true;
    }
    const long before = statusKiB("VmHWM");
    long after = 0;
    {
        const auto package = velkora::loadFirmwarePackage(programFolder, log);
        after = statusKiB("VmHWM");
        if (!package || package->image.size() != kImageBytes) {
            std::cout << "memory: the package did not load\n";
            return false;
        }
    }
    const long growth = after - before;
    const long limit = static_cast<long>(kImageBytes / 1024) + 1024;
    std::cout << "memory: loading a " << kImageBytes / (1024 * 1024)
              << " MiB package raised the peak resident set by " << growth << " KiB (limit "
              << limit << " KiB): " << (growth <= limit ? "met" : "MISSED") << "\n";
    return growth <= limit;
}

// Collects each benchmark's throughput and, at the end, prints the comparison.
class ComparingReporter : public benchmark::ConsoleReporter {
  public:
    ComparingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean") {
                secondsPerIteration_[run.run_name.function_name] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
        }
    }

    bool summarize() const {
        const double ours = at("Sha256Hex64MiB");
        const double openssl = at("OpensslDgst64MiB");
        const double startup = at("OpensslDgstEmptyFile");
        if (ours <= 0 || openssl <= startup) {
            std::cout << "throughput: not measured\n";
            return false;
        }
        const double mib = static_cast<double>(kImageBytes) / (1024 * 1024);
        const double oursRate = mib / ours;
        const double opensslRaw = mib / openssl;
        const double opensslNet = mib / (openssl - startup);
        std::cout << "throughput: sha256Hex " << oursRate << " MiB/s; openssl dgst " << opensslRaw
                  << " MiB/s with process start-up, " << opensslNet << " MiB/s without\n"
                  << "ratio: " << oursRate / opensslRaw << " with start-up, "
                  << oursRate / opensslNet << " without (target " << kThroughputTarget
                  << "): " << (oursRate / opensslNet >= kThroughputTarget ? "met" : "MISSED")
                  << "\n";
        return oursRate / opensslNet >= kThroughputTarget;
    }

  private:
    double at(const std::string& name) const {
        const auto found = secondsPerIteration_.find(name);
        return found == secondsPerIteration_.end() ? 0.0 : found->second;
    }
    std::map<std::string, double> secondsPerIteration_;
};

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
    const bool memoryMet = measureLoadingPeak(folder.path());

    const std::vector<std::uint8_t> image = makeImage();
    benchmark::RegisterBenchmark(
        "Sha256Hex64MiB",
        [&image](benchmark::State& state) {
            for (auto _ : state) {
                benchmark::DoNotOptimize(velkora::sha256Hex(image));
            }
            state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kImageBytes));
        })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    const auto runOpenssl = [](const std::filesystem::path& path, std::size_t bytes) {
        return [command = "openssl dgst -sha256 " + quoted(path) + " > /dev/null",
                bytes](benchmark::State& state) {
            for (auto _ : state) {
                if (std::system(command.c_str()) != 0) {
                    state.SkipWithError("openssl dgst failed");
                    break;
                }
            }
            state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
        };
    };
    benchmark::RegisterBenchmark("OpensslDgst64MiB", runOpenssl(imagePath, kImageBytes))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("OpensslDgstEmptyFile", runOpenssl(emptyPath, 0))
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();

    ComparingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const bool throughputMet = reporter.summarize();
    return memoryMet && throughputMet ? 0 : 1;
}
