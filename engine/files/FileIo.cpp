#include "engine/files/FileIo.h"

#include "engine/files/FileNames.h"
#include "engine/files/FileSystem.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <limits>

#ifdef Q_OS_UNIX
#include "platform/Descriptors.h"

#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace {

#ifdef Q_OS_UNIX

QString SystemReason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool Fail(QString *error, int code)
{
    if (error)
        *error = SystemReason(code);
    return false;
}

// Plain system calls: QFile costs a second read per file (it reads on until end of file)
// and more besides, which shows on trees of many small files.
class OpenFile
{
public:
    // Without O_NONBLOCK a pipe put where a file was scanned would block the run for good.
    explicit OpenFile(const QString &path)
        : fd(::open(EncodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK))
    {
        if (fd < 0)
            lastErrno = errno;
    }
    ~OpenFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    bool isOpen() const { return fd >= 0; }
    qint64 size()
    {
        struct stat info = {};
        if (::fstat(fd, &info) != 0)
            lastErrno = errno;
        else if (!S_ISREG(info.st_mode))
            lastErrno = EISDIR;
        else
            return info.st_size;
        return -1;
    }
    qint64 read(char *data, qint64 size)
    {
        for (;;) {
            const ssize_t got = ::read(fd, data, static_cast<size_t>(size));
            if (got >= 0)
                return got;
            if (errno != EINTR) {
                lastErrno = errno;
                return got;
            }
        }
    }
    QString errorString() const { return SystemReason(lastErrno); }

private:
    const int fd;
    int lastErrno = 0;
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
    QString errorString() const { return file.errorString(); }

private:
    QFile file;
};

#endif

} // namespace

bool ReadFileBytes(const QString &path, QByteArray &bytes, QString *error)
{
    bytes.clear();
    OpenFile file(path);
    const auto fail = [&](const QString &reason) {
        bytes.clear();
        if (error)
            *error = reason;
        return false;
    };
    if (!file.isOpen())
        return fail(file.errorString());
    const qint64 size = file.size();
    if (size < 0)
        return fail(file.errorString());
    if (size > std::numeric_limits<int>::max() - 1)
        return fail(QStringLiteral("file too large"));
    // One byte more than the size tells a file that grew since it was measured.
    bytes.resize(static_cast<int>(size) + 1);
    qint64 total = 0;
    for (;;) {
        const qint64 got = file.read(bytes.data() + total, bytes.size() - total);
        if (got < 0)
            return fail(file.errorString());
        total += got;
        if (got == 0 || total < bytes.size())
            break;
        if (bytes.size() > std::numeric_limits<int>::max() / 2)
            return fail(QStringLiteral("file too large"));
        bytes.resize(bytes.size() * 2);
    }
    bytes.resize(static_cast<int>(total));
    return true;
}

#ifdef Q_OS_UNIX

// By hand rather than with QSaveFile, which also syncs every file to disk: that doubles the
// cost of each write, and a rename is atomic without it. A crash or kill of this program
// leaves the old file or the new one; after a power cut ext4 (auto_da_alloc) still writes a
// file's data before a rename over an existing file. A new file in a save folder may then
// be empty, but the source it was made from is untouched.

namespace {

// The file a chain of symbolic links ends at, even when that file does not exist yet.
QString FinalPath(const QString &path)
{
    QString current = path;
    for (int depth = 0; depth < 128; ++depth) {
        const QString next = SymLinkTarget(current);
        if (next.isEmpty())
            return current;
        current = next;
    }
    return path;
}

// A hidden name in the target's folder that no scan takes for a text file.
int CreateTemporary(const QString &folder, QByteArray &tempPath)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempPath = EncodeFileName(
            folder + QStringLiteral("/.parafold-%1.tmp")
                         .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
        const int fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

bool WriteTextFile(const QString &path, const QByteArray &bytes, QString *error)
{
    const QString finalPath = FinalPath(path);
    const QByteArray target = EncodeFileName(finalPath);
    struct stat existing = {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return Fail(error, EISDIR);

    QByteArray tempPath;
    const int fd = CreateTemporary(QFileInfo(finalPath).path(), tempPath);
    if (fd < 0)
        return Fail(error, errno);
    int failure = WriteAll(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
    if (failure == 0 && exists && ::fchmod(fd, existing.st_mode & 0777) != 0)
        failure = errno; // no set-id bits on a new owner
    if (::close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && ::rename(tempPath.constData(), target.constData()) != 0)
        failure = errno;
    if (failure == 0)
        return true;
    ::unlink(tempPath.constData());
    return Fail(error, failure);
}

#else

bool WriteTextFile(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    if (!ok)
        file.cancelWriting();
    ok = ok && file.commit();
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

#endif

namespace {

// 0, or the errno of the step that failed.
int MakeMissingFolders(const QString &path)
{
    if (IsFolder(path))
        return 0;
    // A file holding the name, or one of its ancestors' names, is the common obstacle.
    if (path.isEmpty() || EntryExists(path))
        return ENOTDIR;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) {
        QString parent = path.left(slash);
        if (parent.endsWith(QLatin1Char(':')))
            parent += QLatin1Char('/'); // a drive root
        if (const int failure = MakeMissingFolders(parent))
            return failure;
    }
    const int failure = MakeFolder(path);
    return failure == EEXIST && IsFolder(path) ? 0 : failure;
}

} // namespace

bool MakeFolderPath(const QString &path, QString *error)
{
    QString folder = path;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    const int failure = MakeMissingFolders(folder);
    if (failure != 0 && error)
        *error = QString::fromLocal8Bit(std::strerror(failure));
    return failure == 0;
}
