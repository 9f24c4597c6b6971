#include "platform/FileLinks.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool LinkFile(const NativePath &existing, const NativePath &newName)
{
    return ::link(existing.c_str(), newName.c_str()) == 0;
}

int RenameOver(const NativePath &from, const NativePath &to)
{
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void HideFile(const NativePath &) {}

bool ReadFileStamp(const NativePath &path, FileStamp &stamp)
{
    struct stat info = {};
    if (::lstat(path.c_str(), &info) != 0)
        return false;
    stamp.size = info.st_size;
#ifdef __APPLE__
    const struct timespec &modified = info.st_mtimespec;
#else
    const struct timespec &modified = info.st_mtim;
#endif
    stamp.modifiedMs = std::int64_t(modified.tv_sec) * 1000 + modified.tv_nsec / 1000000;
    return true;
}

} // namespace platform
