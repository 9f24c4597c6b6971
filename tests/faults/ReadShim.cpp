// Preloaded into parafold-cli by the fault tests, it makes read() on .txt files behave as
// network and FUSE file systems may: at most PARAFOLD_SHIM_READ_MAX bytes a call, every
// other call interrupted (PARAFOLD_SHIM_EINTR), or the file ending early, after
// PARAFOLD_SHIM_READ_END bytes. PARAFOLD_SHIM_LOG names a file that receives, at exit, how
// often each fault was given, so a test can tell that the shim was in place.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

using ReadFunction = ssize_t (*)(int, void *, size_t);

std::atomic<long> shortened{0};
std::atomic<long> interrupted{0};
std::atomic<long> endedEarly{0};
std::atomic<long> calls{0};

long Setting(const char *name)
{
    const char *value = std::getenv(name);
    return value ? std::atol(value) : 0;
}

bool IsTextFile(int fd)
{
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    return length > 4 && std::memcmp(target + length - 4, ".txt", 4) == 0;
}

struct Log
{
    ~Log()
    {
        const char *path = std::getenv("PARAFOLD_SHIM_LOG");
        if (FILE *file = path ? std::fopen(path, "w") : nullptr) {
            std::fprintf(file, "short %ld\neintr %ld\nend %ld\n", shortened.load(),
                         interrupted.load(), endedEarly.load());
            std::fclose(file);
        }
    }
} log;

} // namespace

extern "C" ssize_t read(int fd, void *buffer, size_t count)
{
    static const ReadFunction next = reinterpret_cast<ReadFunction>(dlsym(RTLD_NEXT, "read"));
    if (count == 0 || !IsTextFile(fd))
        return next(fd, buffer, count);
    if (Setting("PARAFOLD_SHIM_EINTR") && calls++ % 2 == 0) {
        ++interrupted;
        errno = EINTR;
        return -1;
    }
    if (const long end = Setting("PARAFOLD_SHIM_READ_END")) {
        const off_t at = ::lseek(fd, 0, SEEK_CUR);
        if (at >= end) {
            ++endedEarly;
            return 0;
        }
        count = std::min(count, size_t(end - at));
    }
    const long most = Setting("PARAFOLD_SHIM_READ_MAX");
    if (most > 0 && count > size_t(most)) {
        ++shortened;
        count = size_t(most);
    }
    return next(fd, buffer, count);
}
