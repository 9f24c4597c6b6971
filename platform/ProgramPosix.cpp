#include "platform/Program.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {
namespace {

constexpr std::array<int, 3> handledSignals{SIGTERM, SIGINT, SIGHUP};

// The self-pipe: the handler may only write to it; the GUI thread reads it.
int pipeFds[2] = {-1, -1};
struct sigaction previousActions[handledSignals.size()];

extern "C" void WriteToPipe(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    // A full pipe already holds a pending request.
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

std::string ExecutableFileName(const std::string &stem)
{
    return stem;
}

bool ReportsOpenInNotepad()
{
    return false;
}

void ShareOneHeap()
{
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);
    // Fixed, as the allocator would otherwise move them as it goes: a file's buffers come back
    // to the heap for the next file instead of being handed to the system and faulted in again
    // each time; only blocks over 32 MiB are mapped apart, and given back when freed.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

int OpenFilesAllowed()
{
    // Enough for any run; not more, for the sake of programs started from here that still
    // walk every possible descriptor.
    constexpr rlim_t wanted = 4096;
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 256;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        struct rlimit raised = limit;
        raised.rlim_cur =
            limit.rlim_max == RLIM_INFINITY ? wanted : std::min(limit.rlim_max, wanted);
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > rlim_t(INT_MAX)
               ? INT_MAX
               : int(limit.rlim_cur);
}

int InstallTerminationPipe()
{
    if (pipeFds[0] >= 0 || ::pipe(pipeFds) != 0)
        return -1;
    for (const int fd : pipeFds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction action = {};
    action.sa_handler = WriteToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < handledSignals.size(); ++i) {
        sigaction(handledSignals[i], nullptr, &previousActions[i]);
        // A signal ignored by whoever started us (nohup) stays ignored.
        if (previousActions[i].sa_handler != SIG_IGN)
            sigaction(handledSignals[i], &action, nullptr);
    }
    return pipeFds[0];
}

void RemoveTerminationPipe()
{
    if (pipeFds[0] < 0)
        return;
    for (std::size_t i = 0; i < handledSignals.size(); ++i)
        sigaction(handledSignals[i], &previousActions[i], nullptr);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void DrainTerminationPipe()
{
    char bytes[16];
    while (pipeFds[0] >= 0 && ::read(pipeFds[0], bytes, sizeof bytes) > 0) {
    }
}

} // namespace platform
