#include "platform/FileLinks.h"

#include <windows.h>

namespace platform {

bool LinkFile(const NativePath &existing, const NativePath &newName)
{
    return CreateHardLinkW(newName.c_str(), existing.c_str(), nullptr) != 0;
}

// A virus scanner or the search indexer opens a new file, or the one it replaces, for a
// moment; the rename is refused meanwhile. It is tried again for about a third of a second
// before the file counts as not written.
int RenameOver(const NativePath &from, const NativePath &to)
{
    DWORD pause = 20; // milliseconds, doubled each time
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return 0;
        const DWORD error = GetLastError();
        const bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
                          error == ERROR_LOCK_VIOLATION;
        if (!held || attempt == 4)
            return static_cast<int>(error);
        Sleep(pause);
        pause *= 2;
    }
}

void HideFile(const NativePath &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_HIDDEN))
        SetFileAttributesW(path.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}

bool ReadFileStamp(const NativePath &path, FileStamp &stamp)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    stamp.size = (std::int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // FILETIME counts 100 ns steps since 1601-01-01.
    const std::int64_t ticks = (std::int64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                               data.ftLastWriteTime.dwLowDateTime;
    stamp.modifiedMs = ticks / 10000 - 11644473600000LL;
    return true;
}

} // namespace platform
