#pragma once

// What the firmware-transfer benchmarks give the updater in place of its surroundings: no
// keys, a host that is never asked anything, a console that takes every character and keeps
// none (so that the progress line is still formatted), and a folder for the run log.

#include <filesystem>
#include <istream>
#include <ostream>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>

#include "platform/services.h"

namespace velkora::bench {

class NoKeys final : public platform::ConsoleKeys {
  public:
    bool keyWaiting() override { return false; }
    int readKey() override { return -1; }
};

class BenchHost final : public platform::Host {
  public:
    explicit BenchHost(std::filesystem::path folder) : folder_(std::move(folder)) {}
    platform::InstanceClaim claimSingleInstance() override { return {}; }
    std::filesystem::path programFolder() override { return folder_; }
    std::string osVersionLine() override { return "OS version benchmark"; }

  private:
    std::filesystem::path folder_;
};

class DiscardingBuffer final : public std::streambuf {
  protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

// A fresh folder for the run log, removed with its content at the end.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::random_device seed;
        path_ = std::filesystem::temp_directory_path() /
                ("velkora-bench-" + std::to_string(seed()) + "-" + std::to_string(seed()));
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// The services of a benchmark around the given clock and HID bus.
class BenchServices {
  public:
    BenchServices(platform::Clock& clock, platform::HidPort& hid)
        : host_(folder_.path()), out_(&discard_), services_{clock, hid, keys_, host_, in_, out_} {}

    platform::Services& services() { return services_; }
    const std::filesystem::path& folder() const { return folder_.path(); }

  private:
    ScratchFolder folder_;
    NoKeys keys_;
    BenchHost host_;
    DiscardingBuffer discard_;
    std::istringstream in_;
    std::ostream out_;
    platform::Services services_;
};

// ceil(bytes / 51): the DATA_CHUNK requests of an image.
constexpr std::size_t chunksOf(std::size_t bytes) {
    return (bytes + 50) / 51;
}

}  // namespace velkora::bench
