#include "WriteTextFile.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// By hand rather than with QSaveFile, which also syncs every file to disk: that doubles the
// cost of each write, and a rename is atomic without it. A crash or kill of this program
// leaves the old file or the new one; after a power cut ext4 (auto_da_alloc) still writes a
// file's data before a rename over an existing file. A new file in a save folder may then
// be empty, but the source it was made from is untouched.

namespace {

// The file a chain of symbolic links ends at, even when that file does not exist yet.
QString FinalPath(const QString &path)
{
    QFileInfo info(path);
    for (int depth = 0; depth < 128 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    return info.isSymLink() ? path : info.filePath();
}

bool WriteAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// A hidden name in the target's folder that no scan takes for a text file.
int CreateTemporary(const QString &folder, QByteArray &tempPath)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        tempPath = QFile::encodeName(
            folder + QStringLiteral("/.parafold-%1.tmp")
                         .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0')));
        const int fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

bool WriteTextFile(const QString &path, const QByteArray &bytes)
{
    const QString finalPath = FinalPath(path);
    const QByteArray target = QFile::encodeName(finalPath);
    struct stat existing = {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return false;

    QByteArray tempPath;
    const int fd = CreateTemporary(QFileInfo(finalPath).path(), tempPath);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, bytes.constData(), bytes.size());
    if (ok && exists)
        ok = ::fchmod(fd, existing.st_mode & 0777) == 0; // no set-id bits on a new owner
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tempPath.constData(), target.constData()) == 0;
    if (!ok)
        ::unlink(tempPath.constData());
    return ok;
}

#else

#include <QSaveFile>

bool WriteTextFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

#endif
