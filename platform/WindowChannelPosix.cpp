#include "platform/PrivateFolder.h"
#include "platform/WindowChannel.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {
namespace {} // namespace

std::string WindowChannelName(std::string &reason)
{
    std::string folder;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && PrivateFolderRefusal(runtime).empty()) {
        folder = runtime;
    } else {
        // Not TMPDIR: two starts in different environments must still meet.
        folder = "/tmp/parafold-window-" + std::to_string(::geteuid());
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = folder + ": " + std::strerror(errno);
            return std::string();
        }
        reason = PrivateFolderRefusal(folder);
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
