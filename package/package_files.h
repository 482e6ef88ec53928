#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velkora {

// The image's size travels to the adapter as an unsigned 32-bit number, so a larger image
// could only be announced with a wrapped size.
inline constexpr std::uintmax_t kMaxImageBytes = 0xFFFFFFFFu;

// Whether a file, folder or link (followed) exists at the path. The errors that mean nothing is
// there give false; any other fails with "Unable to check <path>: <system text>".
bool pathExists(const std::filesystem::path& path);

// The whole image file as bytes. Fails with "Unable to open <path>", "Unable to read <path>"
// when reading breaks off, and "The .sfb file is too large." for more than kMaxImageBytes.
std::vector<std::uint8_t> readFileBytes(const std::filesystem::path& path);

// The whole file, bytes unchanged, into a std::string or a byte vector. A file larger than
// `maxBytes` fails with `tooLargeMessage`: a regular file's size is checked before anything
// is read, and a file without a size (a device, a pipe) or one that grows while it is read is
// read only until it passes the limit. A regular file's bytes land in a buffer of exactly its
// size, so reading needs no memory beyond the content.
template <typename Buffer>
Buffer readWholeFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                     const char* tooLargeMessage);

}  // namespace velkora
