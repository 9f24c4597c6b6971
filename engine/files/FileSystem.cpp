#include "engine/files/FileSystem.h"

#include "engine/files/FileNames.h"
#include "engine/files/Paths.h"

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#else
#include <QDir>
#include <QFile>
#include <QFileInfo>
#endif

namespace {

QString SystemReason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

#ifdef Q_OS_UNIX

namespace {

QString Identity(const struct stat &info)
{
    return QString::number(static_cast<qulonglong>(info.st_dev)) + QLatin1Char(':') +
           QString::number(static_cast<qulonglong>(info.st_ino));
}

bool Stat(const QString &path, struct stat &info)
{
    return ::stat(EncodeFileName(path).constData(), &info) == 0;
}

} // namespace

bool IsFolder(const QString &path)
{
    struct stat info = {};
    return Stat(path, info) && S_ISDIR(info.st_mode);
}

bool EntryExists(const QString &path)
{
    struct stat info = {};
    return ::lstat(EncodeFileName(path).constData(), &info) == 0;
}

QString RealFilePath(const QString &path)
{
    char *real = ::realpath(EncodeFileName(path).constData(), nullptr);
    if (!real)
        return QString();
    const QString decoded = DecodeFileName(QByteArray(real));
    std::free(real);
    return decoded;
}

QString FolderIdentity(const QString &path)
{
    struct stat info = {};
    return Stat(path, info) && S_ISDIR(info.st_mode) ? Identity(info) : QString();
}

QString SymLinkTarget(const QString &path)
{
    const QByteArray name = EncodeFileName(path);
    QByteArray target(256, Qt::Uninitialized);
    for (;;) {
        const ssize_t length = ::readlink(name.constData(), target.data(), target.size());
        if (length < 0)
            return QString();
        if (length < target.size()) {
            target.truncate(static_cast<int>(length));
            break;
        }
        target.resize(target.size() * 2);
    }
    const QString decoded = DecodeFileName(target);
    if (decoded.startsWith(QLatin1Char('/')))
        return decoded;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return JoinPath(slash < 0 ? QStringLiteral(".") : path.left(slash + 1), decoded);
}

bool RemoveFile(const QString &path)
{
    return ::unlink(EncodeFileName(path).constData()) == 0;
}

int MakeFolder(const QString &path)
{
    return ::mkdir(EncodeFileName(path).constData(), 0777) == 0 ? 0 : errno;
}

FolderReader::FolderReader(const QString &path)
    : path(path), fd(::open(EncodeFileName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    if (fd < 0)
        failure = SystemReason(errno);
}

FolderReader::FolderReader(const FolderReader &parent, const QString &name)
    : path(JoinPath(parent.path, name))
{
    if (parent.fd < 0) {
        failure = parent.failure;
        return;
    }
    fd = ::openat(parent.fd, EncodeFileName(name).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        failure = SystemReason(errno);
}

FolderReader::~FolderReader()
{
    if (fd >= 0)
        ::close(fd);
}

bool FolderReader::isOpen() const
{
    return fd >= 0;
}

QString FolderReader::identity() const
{
    struct stat info = {};
    return fd >= 0 && ::fstat(fd, &info) == 0 ? Identity(info) : QString();
}

std::vector<FolderEntry> FolderReader::entries()
{
    std::vector<FolderEntry> list;
    // The stream takes over a descriptor of its own; ours stays for opening sub-folders.
    const int streamFd = fd >= 0 ? ::dup(fd) : -1;
    DIR *stream = streamFd >= 0 ? ::fdopendir(streamFd) : nullptr;
    if (!stream) {
        if (streamFd >= 0)
            ::close(streamFd);
        failure = SystemReason(errno);
        return list;
    }
    ::rewinddir(stream);
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(stream);
        if (!entry) {
            if (errno != 0)
                failure = SystemReason(errno);
            break;
        }
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        unsigned char type = entry->d_type;
        struct stat info = {};
        if (type == DT_UNKNOWN) {
            if (::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone since it was listed
            type = S_ISREG(info.st_mode)   ? DT_REG
                   : S_ISDIR(info.st_mode) ? DT_DIR
                   : S_ISLNK(info.st_mode) ? DT_LNK
                                           : DT_UNKNOWN;
        }
        FolderEntry::Kind kind;
        if (type == DT_REG) {
            kind = FolderEntry::File;
        } else if (type == DT_DIR) {
            kind = FolderEntry::Folder;
        } else if (type == DT_LNK && ::fstatat(fd, name, &info, 0) == 0 && S_ISDIR(info.st_mode)) {
            kind = FolderEntry::Folder;
        } else {
            continue; // a link to a file, a dangling link, a pipe or a device
        }
        list.push_back({DecodeFileName(QByteArray(name)), kind, name[0] == '.'});
    }
    ::closedir(stream);
    return list;
}

#else

bool IsFolder(const QString &path)
{
    return QFileInfo(path).isDir();
}

bool EntryExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString RealFilePath(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

QString FolderIdentity(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() ? info.canonicalFilePath() : QString();
}

QString SymLinkTarget(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : QString();
}

bool RemoveFile(const QString &path)
{
    return QFile::remove(path);
}

int MakeFolder(const QString &path)
{
    return QDir().mkdir(path) ? 0 : (IsFolder(path) ? EEXIST : EACCES);
}

FolderReader::FolderReader(const QString &path) : path(path)
{
    if (!IsFolder(path))
        failure = SystemReason(ENOENT);
}

FolderReader::FolderReader(const FolderReader &parent, const QString &name)
    : FolderReader(JoinPath(parent.path, name))
{}

FolderReader::~FolderReader() = default;

bool FolderReader::isOpen() const
{
    return failure.isEmpty();
}

QString FolderReader::identity() const
{
    return FolderIdentity(path);
}

std::vector<FolderEntry> FolderReader::entries()
{
    std::vector<FolderEntry> list;
    const QFileInfoList infos =
        QDir(path).entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : infos) {
        if (info.isDir())
            list.push_back({info.fileName(), FolderEntry::Folder, info.isHidden()});
        else if (info.isFile() && !info.isSymLink())
            list.push_back({info.fileName(), FolderEntry::File, info.isHidden()});
    }
    return list;
}

#endif
