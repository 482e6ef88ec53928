#include <windows.h>

#include <algorithm>

#include "platform/new_file.h"

namespace velkora::platform {

NewFileResult writeNewFile(const std::filesystem::path& path, std::string_view bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS
                   ? NewFileResult::NameTaken
                   : NewFileResult::CannotCreate;
    }
    bool whole = true;
    while (whole && !bytes.empty()) {
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        whole = WriteFile(file, bytes.data(), piece, &written, nullptr) && written > 0;
        bytes.remove_prefix(written);
    }
    whole = CloseHandle(file) && whole;
    return whole ? NewFileResult::Written : NewFileResult::CannotWrite;
}

}  // namespace velkora::platform
