#include "engine/files/Paths.h"

#include "engine/files/FileSystem.h"

#include <QDir>

static bool IsSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
#else
    return c == QLatin1Char('/');
#endif
}

QString JoinPath(const QString &folder, const QString &name)
{
    if (folder.isEmpty())
        return name;
    int folderEnd = folder.size();
    while (folderEnd > 1 && IsSeparator(folder.at(folderEnd - 1)))
        --folderEnd;
    int nameStart = 0;
    while (nameStart < name.size() && IsSeparator(name.at(nameStart)))
        ++nameStart;
    QString joined = folder.left(folderEnd);
    if (!IsSeparator(joined.back()))
        joined += QLatin1Char('/');
    joined += name.midRef(nameStart);
    return joined;
}

QString TargetPath(const QString &sourcePath, const QString &relativePath, const QString &saveDir,
                   bool saveInSource)
{
    if (saveInSource)
        return QDir::toNativeSeparators(sourcePath);
    return QDir::toNativeSeparators(JoinPath(saveDir, relativePath));
}

bool IsSameFile(const QString &a, const QString &b)
{
    const QString realA = RealFilePath(a);
    return !realA.isEmpty() && realA == RealFilePath(b);
}

bool FolderExists(const QString &path)
{
    QString folder = path;
    if (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')))
        folder.chop(1);
    // A root such as "/" or "D:/" stays itself.
    if (folder.isEmpty() || folder.endsWith(QLatin1Char(':')))
        folder = path;
    return !folder.isEmpty() && IsFolder(folder);
}

bool FileExists(const QString &path)
{
    return !path.isEmpty() && EntryExists(path);
}

namespace {

QString RealPath(const QString &path)
{
    const QString real = RealFilePath(path);
    return real.isEmpty() ? QDir::cleanPath(QDir::current().absoluteFilePath(path)) : real;
}

} // namespace

bool SameFolder(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity sensitivity = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity sensitivity = Qt::CaseSensitive;
#endif
    return RealPath(a).compare(RealPath(b), sensitivity) == 0;
}
