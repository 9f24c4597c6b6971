#pragma once

#include "platform/NativePath.h"

#include <cstdint>

// A second name for an existing file, and the size and modification time of a file. Plain
// C++ on the operating system's own interface, like the rest of this folder.
namespace platform {

#ifdef _WIN32
// The path as the wide Win32 calls take it past 260 characters: made full, then with the
// "\\?\" (or "\\?\UNC\") prefix once it is long; shorter paths are returned as they are.
NativePath ExtendedLengthPath(const NativePath &path);
#endif

// Makes newName a hard link to existing. False where the file system has no hard links
// (FAT, some network shares), across file systems, or when newName exists.
bool LinkFile(const NativePath &existing, const NativePath &newName);

// Gives `from` the name `to`, replacing a file of that name in one step, as POSIX rename()
// does (on Windows MoveFileEx). 0, or the system's error code (errno, or GetLastError on
// Windows); a read-only file is not replaced on Windows.
int RenameOver(const NativePath &from, const NativePath &to);

// Gives the file or folder the hidden attribute on Windows, where a leading dot does not hide
// a name; nothing elsewhere.
void HideFile(const NativePath &path);

struct FileStamp
{
    std::int64_t size = 0;
    std::int64_t modifiedMs = 0; // milliseconds since 1970-01-01 UTC
};

// The stamp of the file itself (a link is not followed). False when it cannot be read.
bool ReadFileStamp(const NativePath &path, FileStamp &stamp);

} // namespace platform
