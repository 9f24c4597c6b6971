#include "platform/FileLinks.h"

#include <windows.h>

namespace platform {

NativePath ExtendedLengthPath(const NativePath &path)
{
    // Folders take 12 characters less than files: the room for an 8.3 name inside.
    const std::size_t shortest = MAX_PATH - 12;
    if (path.size() < shortest)
        return path;
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return path;
    NativePath full(size, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (written == 0 || written >= size)
        return path;
    full.resize(written);
    if (full.size() < shortest || full.compare(0, 4, L"\\\\?\\") == 0)
        return full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool LinkFile(const NativePath &existing, const NativePath &newName)
{
    return CreateHardLinkW(ExtendedLengthPath(newName).c_str(),
                           ExtendedLengthPath(existing).c_str(), nullptr) != 0;
}

// A virus scanner or the search indexer opens a new file, or the one it replaces, for a
// moment; the rename is refused meanwhile. It is tried again for about a third of a second
// before the file counts as not written.
int RenameOver(const NativePath &from, const NativePath &to)
{
    DWORD pause = 20; // milliseconds, doubled each time
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(ExtendedLengthPath(from).c_str(), ExtendedLengthPath(to).c_str(),
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
    const NativePath extended = ExtendedLengthPath(path);
    const DWORD attributes = GetFileAttributesW(extended.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_HIDDEN))
        SetFileAttributesW(extended.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
}

bool ReadFileStamp(const NativePath &path, FileStamp &stamp)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(ExtendedLengthPath(path).c_str(), GetFileExInfoStandard, &data))
        return false;
    stamp.size = (std::int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    // FILETIME counts 100 ns steps since 1601-01-01.
    const std::int64_t ticks = (std::int64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                               data.ftLastWriteTime.dwLowDateTime;
    stamp.modifiedMs = ticks / 10000 - 11644473600000LL;
    return true;
}

} // namespace platform
