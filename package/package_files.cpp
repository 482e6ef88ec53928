#include "package/package_files.h"

#include <fstream>
#include <stdexcept>
#include <system_error>

#include "platform/native_string.h"

namespace velkora {
namespace {

std::string pathText(const std::filesystem::path& path) {
    return platform::toUtf8(path.native());
}

template <typename Buffer>
char* bytesAt(Buffer& buffer, std::size_t offset) {
    return reinterpret_cast<char*>(buffer.data()) + offset;
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

std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path) {
    return readWholeFile<std::vector<std::uint8_t>>(path, kMaxImageBytes,
                                                    "The .sfb file is too large.");
}

template <typename Buffer>
Buffer readWholeFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                     const char* tooLargeMessage) {
    std::ifstream file(path, std::ios::binary);
    std::error_code error;
    // POSIX systems open a folder for reading and fail only at the first read; Windows refuses
    // it at once. Both report it the same way.
    if (!file || std::filesystem::is_directory(path, error)) {
        throw std::runtime_error("Unable to open " + pathText(path));
    }

    Buffer bytes;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error) {
        if (size > maxBytes) {
            throw std::runtime_error(tooLargeMessage);
        }
        bytes.resize(static_cast<std::size_t>(size));
        file.read(bytesAt(bytes, 0), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(file.gcount()));
    }
    // Anything left (no size known, or the file grew since) is read in pieces, never past the
    // limit by more than one piece.
    constexpr std::size_t kPiece = std::size_t{64} * 1024;
    while (file && file.peek() != std::ifstream::traits_type::eof()) {
        const std::size_t used = bytes.size();
        bytes.resize(used + kPiece);
        file.read(bytesAt(bytes, used), static_cast<std::streamsize>(kPiece));
        bytes.resize(used + static_cast<std::size_t>(file.gcount()));
        if (bytes.size() > maxBytes) {
            throw std::runtime_error(tooLargeMessage);
        }
    }
    if (file.bad()) {
        throw std::runtime_error("Unable to read " + pathText(path));
    }
    return bytes;
}

template std::string readWholeFile<std::string>(const std::filesystem::path&, std::uintmax_t,
                                                const char*);
template std::vector<std::uint8_t> readWholeFile<std::vector<std::uint8_t>>(
    const std::filesystem::path&, std::uintmax_t, const char*);

}  // namespace velkora
