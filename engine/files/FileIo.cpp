#include "engine/files/FileIo.h"

#include "engine/files/FileNames.h"
#include "engine/files/FileSystem.h"
#include "platform/ProcessList.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#ifdef Q_OS_UNIX
#include "platform/Descriptors.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include "platform/FileLinks.h"

#include <QDir>
#endif

bool FileIdentity::operator==(const FileIdentity &other) const
{
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedNs == other.modifiedNs;
}

namespace {

// Qt 5 keeps a byte array's header in the same block, which may not exceed the int range.
const qint64 largestRead = std::numeric_limits<int>::max() - 128;

#ifdef Q_OS_UNIX

QString SystemReason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

FileIoResult Fail(QString *error, int code)
{
    if (error)
        *error = SystemReason(code);
    return FileIoResult::Failed;
}

bool Failed(QString *error, int code)
{
    Fail(error, code);
    return false;
}

FileIdentity IdentityOf(const struct stat &info)
{
#ifdef Q_OS_DARWIN
    const struct timespec &modified = info.st_mtimespec;
#else
    const struct timespec &modified = info.st_mtim;
#endif
    return {qint64(info.st_dev), qint64(info.st_ino), qint64(info.st_size),
            qint64(modified.tv_sec) * 1000000000 + modified.tv_nsec};
}

// Plain system calls: QFile costs a second read per file (it reads on until end of file)
// and more besides, which shows on trees of many small files.
class OpenFile
{
public:
    // Without O_NONBLOCK a pipe put where a file was scanned would block the run for good.
    OpenFile(const QString &path, bool followLink)
        : fd(::open(EncodeFileName(path).constData(),
                    O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW)))
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
    bool measure(FileIdentity &identity)
    {
        struct stat info = {};
        if (::fstat(fd, &info) != 0)
            lastErrno = errno;
        else if (!S_ISREG(info.st_mode))
            lastErrno = EISDIR;
        else
            identity = IdentityOf(info);
        return lastErrno == 0;
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

FileIdentity IdentityOf(const QFileInfo &info)
{
    return {0, 0, info.size(), info.lastModified().toMSecsSinceEpoch() * 1000000};
}

class OpenFile
{
public:
    OpenFile(const QString &path, bool) : file(path)
    {
        file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isOpen() const { return file.isOpen(); }
    bool measure(FileIdentity &identity)
    {
        identity = IdentityOf(QFileInfo(file.fileName()));
        identity.size = file.size();
        return true;
    }
    qint64 read(char *data, qint64 size) { return file.read(data, size); }
    QString errorString() const { return file.errorString(); }

private:
    QFile file;
};

#endif

FileIoResult ReadOpenFile(OpenFile &file, const SourceRead &how, QByteArray &bytes,
                          FileIdentity *identity, QString *error)
{
    bytes.clear();
    const auto fail = [&] {
        bytes.clear();
        if (error)
            *error = file.errorString();
        return FileIoResult::Failed;
    };
    FileIdentity measured;
    if (!file.isOpen() || !file.measure(measured))
        return fail();
    if (identity)
        *identity = measured;
    if (measured.size > std::min(how.sizeLimit, largestRead))
        return FileIoResult::TooLarge;
    if (how.beforeAllocating)
        how.beforeAllocating(measured.size);
    bytes.resize(static_cast<int>(measured.size));
    // A network or FUSE file system may return less than asked at any point, and Linux gives
    // at most about 2 GB per call: only a read of nothing ends the file.
    qint64 total = 0;
    while (total < measured.size) {
        const qint64 got = file.read(bytes.data() + total, measured.size - total);
        if (got < 0)
            return fail();
        if (got == 0)
            break;
        total += got;
    }
    if (total == measured.size) {
        char beyond = 0;
        const qint64 got = file.read(&beyond, 1);
        if (got < 0)
            return fail();
        total += got;
    }
    if (total != measured.size) {
        bytes.clear();
        return FileIoResult::Changed;
    }
    return FileIoResult::Done;
}

} // namespace

FileIoResult ReadSourceFile(const QString &path, const SourceRead &how, QByteArray &bytes,
                            FileIdentity *identity, QString *error)
{
    OpenFile file(path, false);
    return ReadOpenFile(file, how, bytes, identity, error);
}

bool ReadFileBytes(const QString &path, QByteArray &bytes, QString *error)
{
    OpenFile file(path, true);
    SourceRead how;
    how.sizeLimit = largestRead;
    const FileIoResult result = ReadOpenFile(file, how, bytes, nullptr, error);
    if (result == FileIoResult::TooLarge && error)
        *error = QStringLiteral("file too large");
    else if (result == FileIoResult::Changed && error)
        *error = QStringLiteral("file changed while it was read");
    return result == FileIoResult::Done;
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

// A hidden name in the folder that no scan takes for a text file. The writer's process id in
// it tells a later run whether the file was left behind by a writer that is gone.
QByteArray TemporaryName(const QByteArray &folder)
{
    const QByteArray random =
        QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0');
    return folder + "/.parafold-" + QByteArray::number(::getpid()) + '-' + random + ".tmp";
}

// A file's new content, written beside it. On Linux it has no name (O_TMPFILE) until just
// before the rename, so a kill leaves nothing behind unless it falls between those two
// calls; elsewhere, or where the file system cannot do that, it has a hidden name from the
// start.
class TemporaryFile
{
public:
    explicit TemporaryFile(const QString &folder) : folder(EncodeFileName(folder)) {}
    ~TemporaryFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!path.isEmpty())
            ::unlink(path.constData());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    // Writes bytes and gives the file mode when one is given: 0 or the errno. bytes must
    // live until the file is named.
    int write(const QByteArray &bytes, const mode_t *mode)
    {
        content = &bytes;
        newMode = mode;
#ifdef O_TMPFILE
        fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fill();
#endif
        return writeNamed();
    }

    // Gives a file written without a name its name, as late as possible: 0 or the errno.
    int name()
    {
        if (fd < 0)
            return 0;
#ifdef O_TMPFILE
        if (linkUnnamed())
            return closeFile();
#endif
        ::close(fd);
        return writeNamed();
    }

    int renameOver(const QByteArray &target)
    {
        if (::rename(path.constData(), target.constData()) != 0)
            return errno;
        path.clear();
        return 0;
    }

private:
    int fill()
    {
        if (const int failure = WriteAll(fd, content->constData(), size_t(content->size())))
            return failure;
        return newMode && ::fchmod(fd, *newMode) != 0 ? errno : 0;
    }

    int closeFile()
    {
        const int result = ::close(fd);
        fd = -1;
        return result == 0 ? 0 : errno;
    }

    int writeNamed()
    {
        fd = -1;
        for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
            path = TemporaryName(folder);
            fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0) {
            path.clear();
            return errno;
        }
        if (const int failure = fill())
            return failure;
        return closeFile();
    }

#ifdef O_TMPFILE
    // Through /proc, which needs no privilege; AT_EMPTY_PATH where /proc is not mounted.
    bool linkUnnamed()
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        for (int attempt = 0; attempt < 16; ++attempt) {
            path = TemporaryName(folder);
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, path.constData(),
                         AT_SYMLINK_FOLLOW) == 0 ||
                ::linkat(fd, "", AT_FDCWD, path.constData(), AT_EMPTY_PATH) == 0)
                return true;
            if (errno != EEXIST)
                break;
        }
        path.clear();
        return false;
    }
#endif

    const QByteArray folder;
    const QByteArray *content = nullptr;
    const mode_t *newMode = nullptr;
    int fd = -1;     // open while the file is written, and while it has no name
    QByteArray path; // its name, while it has one that is not the target's
};

FileIdentity StandingIdentity(const QByteArray &target, struct stat &info)
{
    if (::lstat(target.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    return IdentityOf(info);
}

// Taken on the file to be replaced, from the last check to the rename. Another run of this
// program replacing the same file at the same moment waits for it, and then finds the file
// replaced; a change by any other program is still seen unless it falls within those
// microseconds.
class ReplaceLock
{
public:
    explicit ReplaceLock(const QByteArray &target)
        : fd(::open(target.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC))
    {
        while (fd >= 0 && ::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~ReplaceLock()
    {
        if (fd >= 0)
            ::close(fd);
    }
    ReplaceLock(const ReplaceLock &) = delete;
    ReplaceLock &operator=(const ReplaceLock &) = delete;

    // The locked file is the one that was read, unchanged.
    bool holds(const FileIdentity &asRead) const
    {
        struct stat info = {};
        return fd >= 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
               IdentityOf(info) == asRead;
    }

private:
    int fd;
};

// Root may write any file, so a file that grants writing to nobody counts as read-only too.
bool IsReadOnly(const QByteArray &target, const struct stat &info)
{
    return (info.st_mode & 0222) == 0 || ::access(target.constData(), W_OK) != 0;
}

} // namespace

bool WriteTextFile(const QString &path, const QByteArray &bytes, QString *error)
{
    const QString finalPath = FinalPath(path);
    const QByteArray target = EncodeFileName(finalPath);
    struct stat existing = {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode))
        return Failed(error, EISDIR);
    const mode_t mode = existing.st_mode & 0777; // no set-id bits on a new owner
    TemporaryFile temporary(QFileInfo(finalPath).path());
    int failure = temporary.write(bytes, exists ? &mode : nullptr);
    if (failure == 0)
        failure = temporary.name();
    if (failure == 0)
        failure = temporary.renameOver(target);
    return failure == 0 || Failed(error, failure);
}

FileIoResult ReplaceInPlace(const QString &path, const QByteArray &bytes,
                            const FileIdentity &asRead, const BeforeReplace &beforeReplace,
                            QString *error)
{
    const QByteArray target = EncodeFileName(path);
    struct stat standing = {};
    // A link or another file put in its place is no longer the file that was read.
    if (StandingIdentity(target, standing) != asRead)
        return FileIoResult::Changed;
    if (IsReadOnly(target, standing))
        return FileIoResult::ReadOnly;
    const mode_t mode = standing.st_mode & 0777;
    TemporaryFile temporary(QFileInfo(path).path());
    if (const int failure = temporary.write(bytes, &mode))
        return Fail(error, failure);
    // Someone may have changed the file while its new content was written.
    const ReplaceLock lock(target);
    if (!lock.holds(asRead) || StandingIdentity(target, standing) != asRead)
        return FileIoResult::Changed;
    if (beforeReplace && !beforeReplace(error))
        return FileIoResult::Refused;
    if (const int failure = temporary.name())
        return Fail(error, failure);
    if (const int failure = temporary.renameOver(target))
        return Fail(error, failure);
    return FileIoResult::Done;
}

#else

// Written beside the target under a name of its own and renamed over it (MoveFileEx), as on
// POSIX: a kill leaves the old file or the new one, and the next run removes the temporary
// file of a writer that is gone. A read-only file is not replaced: the rename fails.

namespace {

// A name in the folder that no scan takes for a text file. The writer's process id in it
// tells a later run whether the file was left behind by a writer that is gone.
QString TemporaryName(const QString &folder)
{
    const QString random = QString::number(QRandomGenerator::global()->generate64(), 16)
                               .rightJustified(16, QLatin1Char('0'));
    return folder + QStringLiteral("/.parafold-%1-").arg(platform::CurrentProcessId()) + random +
           QStringLiteral(".tmp");
}

// The bytes under a new temporary name in the folder; empty, with the reason in error, when
// they could not be written there.
QString WriteTemporary(const QString &folder, const QByteArray &bytes, QString *error)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        QFile file(TemporaryName(folder));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.exists())
                continue;
            if (error)
                *error = file.errorString();
            return QString();
        }
        if (file.write(bytes) == bytes.size() && file.flush()) {
            file.close();
            return file.fileName();
        }
        if (error)
            *error = file.errorString();
        file.close();
        file.remove();
        return QString();
    }
    if (error)
        *error = QString::fromLocal8Bit(std::strerror(EEXIST));
    return QString();
}

bool RenameOver(const QString &temporary, const QString &target, QString *error)
{
    const int failure = platform::RenameOver(QDir::toNativeSeparators(temporary).toStdWString(),
                                             QDir::toNativeSeparators(target).toStdWString());
    if (failure == 0)
        return true;
    QFile::remove(temporary);
    if (error)
        *error = qt_error_string(failure);
    return false;
}

} // namespace

bool WriteTextFile(const QString &path, const QByteArray &bytes, QString *error)
{
    // In the system's words, as on POSIX. The rename would replace a read-only file where
    // the file system does not refuse it.
    const QFileInfo standing(path);
    const int refusal = standing.isDir()                              ? EISDIR
                        : standing.exists() && !standing.isWritable() ? EACCES
                                                                      : 0;
    if (refusal != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(refusal));
        return false;
    }
    const QString temporary = WriteTemporary(QFileInfo(path).path(), bytes, error);
    return !temporary.isEmpty() && RenameOver(temporary, path, error);
}

FileIoResult ReplaceInPlace(const QString &path, const QByteArray &bytes,
                            const FileIdentity &asRead, const BeforeReplace &beforeReplace,
                            QString *error)
{
    const auto standing = [&path] {
        const QFileInfo info(path);
        return info.isFile() && !info.isSymLink() ? IdentityOf(info) : FileIdentity();
    };
    if (standing() != asRead)
        return FileIoResult::Changed;
    if (!QFileInfo(path).isWritable())
        return FileIoResult::ReadOnly;
    const QString temporary = WriteTemporary(QFileInfo(path).path(), bytes, error);
    if (temporary.isEmpty())
        return FileIoResult::Failed;
    // Someone may have changed the file while its new content was written.
    if (standing() != asRead) {
        QFile::remove(temporary);
        return FileIoResult::Changed;
    }
    if (beforeReplace && !beforeReplace(error)) {
        QFile::remove(temporary);
        return FileIoResult::Refused;
    }
    return RenameOver(temporary, path, error) ? FileIoResult::Done : FileIoResult::Failed;
}

#endif

bool RemoveStaleTemporary(const QString &path)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\.parafold-(\\d+)-[0-9a-f]{16}\\.tmp$"));
    const QRegularExpressionMatch match = pattern.match(QFileInfo(path).fileName());
    if (!match.hasMatch())
        return false;
    bool valid = false;
    const platform::ProcessId writer = match.captured(1).toUInt(&valid);
    if (!valid || writer == platform::CurrentProcessId() || platform::ProcessRuns(writer))
        return false;
#ifdef Q_OS_UNIX
    return ::unlink(EncodeFileName(path).constData()) == 0;
#else
    return QFile::remove(path);
#endif
}

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
