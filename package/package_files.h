#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

namespace velkora {

// The image's size travels to the adapter as an unsigned 32-bit number, so a larger image
// could only be announced with a wrapped size.
inline constexpr std::uintmax_t kMaxImageBytes = 0xFFFFFFFFu;

// Whether a file, folder or link (followed) exists at the path. The errors that mean nothing is
// there give false; any other fails with "Unable to check <path>: <system text>".
bool pathExists(const std::filesystem::path& path);

// Receives each piece of a file as it is read, while it is still in the processor's cache.
using FilePieceSink = std::function<void(std::span<const std::uint8_t>)>;

// The whole file, bytes unchanged, into a std::string or a byte vector, handing each piece to
// `eachPiece` as it is read. Only a regular file (or a link to one) is read: anything else, a
// folder, a device such as the console or a pipe, fails with "Unable to open <path>", since
// reading it could block or never end. A file larger than `maxBytes` fails with
// `tooLargeMessage` before anything is read; one that grows while it is read fails once it
// passes the limit. A read that breaks off fails with "Unable to read <path>". The bytes land
// in a buffer of exactly the file's size, so reading needs no memory beyond the content.
template <typename Buffer>
Buffer readWholeFile(const std::filesystem::path& path, std::uintmax_t maxBytes,
                     const char* tooLargeMessage, const FilePieceSink& eachPiece = {});

}  // namespace velkora
