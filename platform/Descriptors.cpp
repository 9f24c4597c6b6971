#include "platform/Descriptors.h"

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

int WriteAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
#ifdef _WIN32
        // The C runtime takes at most an unsigned int at a time.
        const unsigned int chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned>(size);
        const int written = ::_write(fd, data, chunk);
#else
        const ssize_t written = ::write(fd, data, size);
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
