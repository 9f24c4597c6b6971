#include "platform/Descriptors.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#ifndef _WIN32
namespace {
constexpr std::size_t writePiece = std::size_t(256) << 10;
}
#endif

int WriteAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
#ifdef _WIN32
        // The C runtime takes at most an unsigned int at a time.
        const unsigned int chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
        const int written = ::_write(fd, data, chunk);
#else
        // Written a cache-sized piece at a time: a single large write lets the kernel take
        // large page-cache folios, whose fresh memory made writing a novel up to ten times
        // slower in a virtual machine.
        const ssize_t written = ::write(fd, data, size < writePiece ? size : writePiece);
#endif
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return EIO;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}
