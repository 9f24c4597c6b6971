#include "engine/scan/Scan.h"

#include "engine/files/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

QString FileList::path(const ScannedFile &file) const
{
    return JoinPath(folders[file.folder].path, file.name);
}

QString FileList::relativePath(const ScannedFile &file) const
{
    return JoinPath(folders[file.folder].relativePath, file.name);
}

namespace {

// The top folder as the scan names it: native separators turned into "/", a final "/"
// dropped unless it is all that is left of a root such as "/" or "D:/".
QString TopFolderPath(const QString &folder)
{
    QString path = QDir::fromNativeSeparators(folder);
    const bool isDriveRoot = path.size() == 3 && path.at(1) == QLatin1Char(':');
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')) && !isDriveRoot)
        path.chop(1);
    return path;
}

class Scanner
{
public:
    FileList list;

    void scan(const QString &path, const QString &relativePath)
    {
        const QFileInfo folderInfo(path);
        const QString realPath = folderInfo.canonicalFilePath();
        if (realPath.isEmpty() || visited.contains(realPath))
            return;
        visited.insert(realPath);

        // One listing serves both the files and the sub-folders; sorting it once keeps the
        // order of each part.
        const QFileInfoList entries =
            QDir(path).entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot,
                                     QDir::Name | QDir::IgnoreCase);
        const int folderIndex = static_cast<int>(list.folders.size());
        list.folders.push_back({path, relativePath, realPath});
        QFileInfoList subFolders;
        for (const QFileInfo &entry : entries) {
            if (entry.isDir()) {
                if (!entry.isHidden())
                    subFolders.append(entry);
            } else if (entry.isFile() && !entry.isSymLink()) {
                list.files.push_back({folderIndex, entry.fileName()});
            }
        }
        for (const QFileInfo &sub : subFolders)
            scan(sub.absoluteFilePath(), JoinPath(relativePath, sub.fileName()));
    }

private:
    QSet<QString> visited;
};

} // namespace

FileList CollectFiles(const QString &folder)
{
    Scanner scanner;
    if (!folder.isEmpty())
        scanner.scan(TopFolderPath(folder), QString());
    return std::move(scanner.list);
}
