#include "engine/files/Paths.h"

#include "engine/files/FileSystem.h"
#include "platform/Folder.h"

#include <QDir>

static bool IsSeparator(QChar c)
{
    return platform::IsSeparator(c.unicode());
}

QString NativeSeparators(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

QString FromNativeSeparators(const QString &path)
{
    return QDir::fromNativeSeparators(path);
}

QString AbsolutePath(const QString &path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
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
    // Built in one allocation: a run joins paths for every file of the tree.
    const bool separated = IsSeparator(folder.at(folderEnd - 1));
    QString joined;
    joined.reserve(folderEnd + (separated ? 0 : 1) + name.size() - nameStart);
    joined.append(folder.constData(), folderEnd);
    if (!separated)
        joined += QLatin1Char('/');
    joined.append(name.constData() + nameStart, name.size() - nameStart);
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

// The absolute path with every link resolved; the part that does not exist yet is appended
// to the real path of the deepest folder that does.
QString RealPath(const QString &path)
{
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    QString existing = absolute;
    QStringList missing;
    while (!EntryExists(existing)) {
        const int cut = existing.lastIndexOf(QLatin1Char('/'));
        if (cut <= 0 || existing.endsWith(QLatin1Char(':')))
            break;
        missing.prepend(existing.mid(cut + 1));
        existing.truncate(cut);
    }
    QString real = RealFilePath(existing);
    if (real.isEmpty())
        return absolute;
    for (const QString &name : missing)
        real = JoinPath(real, name);
    return real;
}

Qt::CaseSensitivity PathCase()
{
    return platform::PathsIgnoreCase() ? Qt::CaseInsensitive : Qt::CaseSensitive;
}

} // namespace

bool SameFolder(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    return RealPath(a).compare(RealPath(b), PathCase()) == 0;
}

bool FolderInside(const QString &inner, const QString &outer)
{
    if (inner.isEmpty() || outer.isEmpty())
        return false;
    QString outerReal = RealPath(outer);
    // A root such as "/" or "D:/" already ends in its separator.
    if (!outerReal.endsWith(QLatin1Char('/')))
        outerReal += QLatin1Char('/');
    const QString innerReal = RealPath(inner);
    return innerReal.size() > outerReal.size() && innerReal.startsWith(outerReal, PathCase());
}
