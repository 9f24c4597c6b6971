#include "engine/files/FileIo.h"

#include "engine/files/FileNames.h"
#include "engine/files/FileSystem.h"
#include "engine/files/FolderCalls.h"
#include "platform/Folder.h"
#include "platform/ProcessList.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>
#include <cstring>
#include <limits>

bool FileIdentity::operator==(const FileIdentity &other) const
{
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedNs == other.modifiedNs;
}

namespace {

// Qt 5 keeps a byte array's header in the same block, which may not exceed the int range.
const qint64 largestRead = std::numeric_limits<int>::max() - 128;

bool Failed(QString *error, int code)
{
    if (error)
        *error = SystemErrorText(code);
    return false;
}

FileIoResult ReadPath(const QString &path, bool followLink, const SourceRead &how,
                      QByteArray &bytes, FileIdentity *identity, QString *error)
{
    bytes.clear();
    platform::File file;
    if (const int failure = platform::File::Open(ToNativePath(path), followLink, file)) {
        Failed(error, failure);
        return FileIoResult::Failed;
    }
    return ReadOpenFile(file, how, bytes, identity, error);
}

// The folder holding path, where the user pointed, and path's last name in it.
int OpenParent(const QString &path, platform::Folder &parent, platform::NativePath &name)
{
    platform::NativePath folder;
    platform::SplitPath(ToNativePath(path), folder, name);
    return platform::Folder::Open(folder, parent);
}

} // namespace

// Plain system calls: QFile costs a second read per file (it reads on until end of file)
// and more besides, which shows on trees of many small files.
FileIoResult ReadSourceFile(const QString &path, const SourceRead &how, QByteArray &bytes,
                            FileIdentity *identity, QString *error)
{
    return ReadPath(path, false, how, bytes, identity, error);
}

bool ReadFileBytes(const QString &path, QByteArray &bytes, QString *error)
{
    SourceRead how;
    how.sizeLimit = largestRead;
    const FileIoResult result = ReadPath(path, true, how, bytes, nullptr, error);
    if (result == FileIoResult::TooLarge && error)
        *error = QCoreApplication::translate("FileIo", "file too large");
    else if (result == FileIoResult::Changed && error)
        *error = QCoreApplication::translate("FileIo", "file changed while it was read");
    return result == FileIoResult::Done;
}

FileIoResult ReadFileLines(const QString &path, qint64 sizeLimit, const LineTake &take,
                           QString *error)
{
    const auto fail = [error](int code) {
        Failed(error, code);
        return FileIoResult::Failed;
    };
    platform::File file;
    if (const int failure = platform::File::Open(ToNativePath(path), true, file))
        return fail(failure);
    platform::EntryInfo info;
    if (const int failure = file.info(info))
        return fail(failure);
    if (info.size > sizeLimit)
        return FileIoResult::TooLarge;
    std::vector<char> piece(std::size_t(1) << 20);
    QByteArray line;
    qint64 total = 0;
    for (;;) {
        std::size_t got = 0;
        if (const int failure = file.read(piece.data(), piece.size(), got))
            return fail(failure);
        if (got == 0)
            break;
        total += qint64(got);
        if (total > sizeLimit) // grown since it was measured
            return FileIoResult::TooLarge;
        const char *at = piece.data();
        const char *const end = at + got;
        while (at < end) {
            const char *feed = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)));
            if (line.size() + ((feed ? feed : end) - at) > largestRead)
                return FileIoResult::TooLarge; // a line no byte array holds
            if (!feed) {
                line.append(at, int(end - at));
                break;
            }
            line.append(at, int(feed - at));
            if (!take(line, true))
                return FileIoResult::Refused;
            line.resize(0);
            at = feed + 1;
        }
    }
    if (!line.isEmpty() && !take(line, false))
        return FileIoResult::Refused;
    return FileIoResult::Done;
}

// Without syncing each file to disk, as QSaveFile would: that doubles the cost of each write,
// and a rename is atomic without it. A crash or kill of this program leaves the old file or
// the new one; after a power cut ext4 (auto_da_alloc) still writes a file's data before a
// rename over an existing file.
bool WriteTextFile(const QString &path, const QByteArray &bytes, QString *error)
{
    platform::Folder parent;
    platform::NativePath name;
    int failure = OpenParent(path, parent, name);
    if (failure == 0)
        failure = parent.replaceFile(name, bytes.constData(), std::size_t(bytes.size()),
                                     platform::ReplaceCheck());
    return failure == 0 || Failed(error, failure);
}

bool WriteTextFile(const QString &path, const std::vector<QByteArray> &parts, QString *error)
{
    return WriteTextFile(
        path,
        [&](const PieceWrite &write) {
            return std::all_of(parts.begin(), parts.end(), [&](const QByteArray &part) {
                return write(part.constData(), part.size());
            });
        },
        error);
}

bool WriteTextFile(const QString &path, const std::function<bool(const PieceWrite &write)> &content,
                   QString *error)
{
    platform::Folder parent;
    platform::NativePath name;
    int failure = OpenParent(path, parent, name);
    if (failure == 0)
        failure = parent.replaceFile(
            name,
            [&](const platform::Folder::Write &write) {
                // Small pieces are written in runs of up to a megabyte: a call for each would
                // cost more than the copy.
                const int runSize = 1 << 20;
                QByteArray run;
                run.reserve(runSize);
                int failed = 0;
                const auto flush = [&] {
                    if (failed == 0 && !run.isEmpty())
                        failed = write(run.constData(), std::size_t(run.size()));
                    run.resize(0);
                    return failed == 0;
                };
                const PieceWrite put = [&](const char *data, qint64 size) {
                    if (failed != 0)
                        return false;
                    if (run.size() + size > runSize && !flush())
                        return false;
                    if (size >= runSize) {
                        failed = write(data, std::size_t(size));
                        return failed == 0;
                    }
                    run.append(data, int(size));
                    return true;
                };
                const bool complete = content(put);
                if (!flush())
                    return failed;
                return complete ? 0 : int(platform::ErrorRefused);
            },
            platform::ReplaceCheck());
    return failure == 0 || Failed(error, failure);
}

FileIoResult ReplaceInPlace(const QString &path, const QByteArray &bytes,
                            const FileIdentity &asRead, const BeforeReplace &beforeReplace,
                            QString *error)
{
    platform::Folder parent;
    platform::NativePath name;
    if (const int failure = OpenParent(path, parent, name)) {
        Failed(error, failure);
        return FileIoResult::Failed;
    }
    return ReplaceInFolder(parent, name, bytes, asRead, beforeReplace, error);
}

bool IsStaleTemporaryName(const QString &name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\.parafold-(\\d+)-[0-9a-f]{16}\\.tmp$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return false;
    bool valid = false;
    const platform::ProcessId writer = match.captured(1).toUInt(&valid);
    return valid && writer != platform::CurrentProcessId() && !platform::ProcessRuns(writer);
}

bool RemoveStaleTemporary(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return IsStaleTemporaryName(path.mid(slash + 1)) && RemoveFile(path);
}

namespace {

// 0, or the platform's code of the step that failed.
int MakeMissingFolders(const QString &path)
{
    if (IsFolder(path))
        return 0;
    // A file holding the name, or one of its ancestors' names, is the common obstacle.
    if (path.isEmpty() || EntryExists(path))
        return platform::ErrorNotFolder;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) {
        QString parent = path.left(slash);
        if (parent.endsWith(QLatin1Char(':')))
            parent += QLatin1Char('/'); // a drive root
        if (const int failure = MakeMissingFolders(parent))
            return failure;
    }
    const int failure = MakeFolder(path);
    return platform::IsExisting(failure) && IsFolder(path) ? 0 : failure;
}

} // namespace

bool MakeFolderPath(const QString &path, QString *error)
{
    QString folder = path;
    while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
        folder.chop(1);
    const int failure = MakeMissingFolders(folder);
    return failure == 0 || Failed(error, failure);
}
