#include "platform/PrivateFolder.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string PrivateFolderRefusal(const std::string &folder)
{
    struct stat status;
    if (::lstat(folder.c_str(), &status) != 0)
        return folder + ": " + std::strerror(errno);
    if (!S_ISDIR(status.st_mode))
        return folder + " is not a folder";
    if (status.st_uid != ::geteuid())
        return folder + " belongs to another user";
    if ((status.st_mode & 077) != 0)
        return folder + " is open to other users";
    return std::string();
}

} // namespace platform
