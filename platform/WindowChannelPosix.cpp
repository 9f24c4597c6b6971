#include "platform/WindowChannel.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {

// Empty when `folder` is a real folder of this user's that no one else may enter or write,
// else why not.
std::string FolderRefusal(const std::string &folder)
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

} // namespace

std::string WindowChannelName(std::string &reason)
{
    std::string folder;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && FolderRefusal(runtime).empty()) {
        folder = runtime;
    } else {
        // Not TMPDIR: two starts in different environments must still meet.
        folder = "/tmp/parafold-window-" + std::to_string(::geteuid());
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = folder + ": " + std::strerror(errno);
            return std::string();
        }
        reason = FolderRefusal(folder);
        if (!reason.empty())
            return std::string();
    }
    const std::string path = folder + "/parafold-window";
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        reason = path + " is too long for a local socket";
        return std::string();
    }
    return path;
}

void LetWindowComeForward() {}

} // namespace platform
