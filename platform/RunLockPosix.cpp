#include "platform/RunLock.h"

#include <cerrno>
#include <fcntl.h>
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
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
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
    fd = OpenFile(path, O_RDWR | O_CREAT);
    if (fd < 0)
        return false;
    struct flock lock = WholeFile(F_WRLCK);
    if (::fcntl(fd, F_SETLK, &lock) != 0) {
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

} // namespace platform
