#include "platform/PrivateFolder.h"
#include "platform/RunLock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// A record lock over the whole file.
struct flock WholeFile(short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;
    return lock;
}

int OpenFile(const std::string &path, int flags)
{
    int fd;
    do
        fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    return fd;
}

} // namespace

RunLock::RunLock(std::string path) : path(std::move(path)) {}

RunLock::~RunLock()
{
    release();
}

bool RunLock::acquire()
{
    if (fd >= 0)
        return true;
    busy = false;
    fd = OpenFile(path, O_RDWR | O_CREAT);
    if (fd < 0)
        return false;
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
        busy = errno == EACCES || errno == EAGAIN;
        release();
        return false;
    }
    return true;
}

void RunLock::release()
{
    // Closing the file drops the lock.
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool RunLockHeld(const std::string &path)
{
    const int fd = OpenFile(path, O_RDONLY);
    if (fd < 0)
        return false;
    struct flock lock = WholeFile(F_WRLCK);
    const bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

std::string RunLockFileName()
{
    return "Parafold-" + std::to_string(::getuid()) + ".lock";
}

std::string RunLockPathIn(const std::string &temporaryFolder, std::string &reason)
{
    const std::string folder = (temporaryFolder.empty() ? std::string("/tmp") : temporaryFolder) +
                               "/parafold-" + std::to_string(::getuid());
    // Made with no bits for others; one that is there already is taken only as checked below.
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        reason = folder + ": " + std::strerror(errno);
        return std::string();
    }
    reason = PrivateFolderRefusal(folder);
    return reason.empty() ? folder + "/" + RunLockFileName() : std::string();
}

std::string RunLockPath(std::string &reason)
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/' && PrivateFolderRefusal(runtime).empty())
        return std::string(runtime) + "/" + RunLockFileName();
    const char *temporary = std::getenv("TMPDIR");
    return RunLockPathIn(temporary && *temporary == '/' ? temporary : "", reason);
}

} // namespace platform
