#pragma once

#include <filesystem>
#include <string_view>

namespace velkora::platform {

enum class NewFileResult {
    Written,       // the file was created and holds the bytes
    NameTaken,     // something is at the path already; nothing was changed
    CannotCreate,  // the file could not be created
    CannotWrite,   // the file was created, but not all bytes could be written into it
};

// Creates a file where nothing is yet and writes the bytes into it. The creation itself fails
// when the name is taken (O_EXCL, CREATE_NEW), so a file that appeared after its name was
// found free is never truncated, and a link in its place is never followed.
NewFileResult writeNewFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace velkora::platform
