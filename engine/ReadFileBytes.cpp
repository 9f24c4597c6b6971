#include "ReadFileBytes.h"

#include <QFile>

#include <limits>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_UNIX

// Plain system calls: QFile costs a second read per file (it reads on until end of file)
// and more besides, which shows on trees of many small files.
class OpenFile
{
public:
    // Without O_NONBLOCK a pipe put where a file was scanned would block the run for good.
    explicit OpenFile(const QString &path)
        : fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))
    {}
    ~OpenFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    bool isOpen() const { return fd >= 0; }
    qint64 size() const
    {
        struct stat info = {};
        return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : -1;
    }
    qint64 read(char *data, qint64 size)
    {
        for (;;) {
            const ssize_t got = ::read(fd, data, static_cast<size_t>(size));
            if (got >= 0 || errno != EINTR)
                return got;
        }
    }

private:
    const int fd;
};

#else

class OpenFile
{
public:
    explicit OpenFile(const QString &path) : file(path)
    {
        file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isOpen() const { return file.isOpen(); }
    qint64 size() const { return file.size(); }
    qint64 read(char *data, qint64 size) { return file.read(data, size); }

private:
    QFile file;
};

#endif

} // namespace

bool ReadFileBytes(const QString &path, QByteArray &bytes)
{
    bytes.clear();
    OpenFile file(path);
    if (!file.isOpen())
        return false;
    const qint64 size = file.size();
    if (size < 0 || size > std::numeric_limits<int>::max() - 1)
        return false;
    // One byte more than the size tells a file that grew since it was measured.
    bytes.resize(static_cast<int>(size) + 1);
    qint64 total = 0;
    for (;;) {
        const qint64 got = file.read(bytes.data() + total, bytes.size() - total);
        if (got < 0) {
            bytes.clear();
            return false;
        }
        total += got;
        if (got == 0 || total < bytes.size())
            break;
        if (bytes.size() > std::numeric_limits<int>::max() / 2) {
            bytes.clear();
            return false;
        }
        bytes.resize(bytes.size() * 2);
    }
    bytes.resize(static_cast<int>(total));
    return true;
}
