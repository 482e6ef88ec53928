#include "package/package_files.h"

#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/native_string.h"

namespace velkora {
namespace {

// Large enough that reading costs nothing next to hashing, small enough that a piece is still
// in the processor's cache when it is hashed.
constexpr std::size_t kPiece = std::size_t{64} * 1024;

std::string pathText(const std::filesystem::path& path) {
    return platform::toUtf8(path.native());
}

// Reads up to `count` bytes at `offset` of the buffer, hands them on and returns how many came.
template <typename Buffer>
std::size_t readPiece(std::ifstream& file, Buffer& buffer, std::size_t offset, std::size_t count,
                      const FilePieceSink& eachPiece) {
    char* const at = reinterpret_cast<char*>(buffer.data()) + offset;
    file.read(at, static_cast<std::streamsize>(count));
    const auto got = static_cast<std::size_t>(file.gcount());
    if (eachPiece && got > 0) {
        eachPiece({reinterpret_cast<const std::uint8_t*>(at), got});
    }
    return got;
}

}  // namespace

bool pathExists(const std::filesystem::path& path) {
    std::error_code error;
    const bool exists = std::filesystem::exists(path, error);
    if (error) {
        throw std::runtime_error("Unable to check " + pathText(path) + ": " + error.message());
    }
    return exists;
}

template <typename Buffer>
Buffer readWholeFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                     const char* tooLargeMessage, const FilePieceSink& eachPiece) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        throw std::runtime_error("Unable to open " + pathText(path));
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) {
        throw std::runtime_error("Unable to open " + pathText(path));
    }
    if (size > maxBytes) {
        throw std::runtime_error(tooLargeMessage);
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("Unable to open " + pathText(path));
    }

    Buffer bytes(static_cast<std::size_t>(size), 0);
    std::size_t used = 0;
    while (used < bytes.size() && file) {
        used += readPiece(file, bytes, used, std::min(kPiece, bytes.size() - used), eachPiece);
    }
    bytes.resize(used);
    // A file that grew since its size was taken is read on, never past the limit by more than
    // one piece.
    while (file && file.peek() != std::ifstream::traits_type::eof()) {
        bytes.resize(used + kPiece);
        used += readPiece(file, bytes, used, kPiece, eachPiece);
        bytes.resize(used);
        if (used > maxBytes) {
            throw std::runtime_error(tooLargeMessage);
        }
    }
    if (file.bad()) {
        throw std::runtime_error("Unable to read " + pathText(path));
    }
    return bytes;
}

template std::string readWholeFile<std::string>(const std::filesystem::path&, std::uintmax_t,
                                                const char*, const FilePieceSink&);
template std::vector<std::uint8_t> readWholeFile<std::vector<std::uint8_t>>(
    const std::filesystem::path&, std::uintmax_t, const char*, const FilePieceSink&);

}  // namespace velkora
