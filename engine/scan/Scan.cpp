#include "engine/scan/Scan.h"

#include "engine/files/Paths.h"
#include "engine/scan/FolderListings.h"

#include <QSet>
#include <algorithm>
#include <utility>

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
    QString path = FromNativeSeparators(folder);
    const bool isDriveRoot = path.size() == 3 && path.at(1) == QLatin1Char(':');
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')) && !isDriveRoot)
        path.chop(1);
    return path;
}

class Scanner
{
public:
    FileList list;
    QString absoluteTop;

    // path names the folder for the file paths of the list.
    void scan(const FolderListing &folder, const QString &path, const QString &relativePath)
    {
        if (folder.identity.isEmpty() || visited.contains(folder.identity))
            return;
        visited.insert(folder.identity);

        if (!folder.error.isEmpty())
            list.unlisted.push_back({path, folder.error});
        const int folderIndex = static_cast<int>(list.folders.size());
        list.folders.push_back({path, relativePath, folder.identity});
        for (const FolderEntry &entry : folder.entries) {
            if (entry.kind == FolderEntry::File)
                list.files.push_back({folderIndex, entry.name});
        }
        for (const FolderEntry &entry : folder.entries) {
            if (!IsScannedFolder(entry))
                continue;
            // Deeper folders are named by absolute paths.
            const QString subPath =
                JoinPath(relativePath.isEmpty() ? absoluteTop : path, entry.name);
            const QString subRelativePath = JoinPath(relativePath, entry.name);
            const FolderListing sub = listings.inside(folder, entry.name, subRelativePath);
            if (sub.open)
                scan(sub, subPath, subRelativePath);
            else
                list.unlisted.push_back({subPath, sub.error});
        }
    }

    FolderListings listings;

private:
    QSet<QString> visited;
};

} // namespace

FileList CollectFiles(const QString &folder)
{
    Scanner scanner;
    if (folder.isEmpty())
        return std::move(scanner.list);
    const QString top = TopFolderPath(folder);
    const FolderListing listing = scanner.listings.top(top);
    // A missing top folder scans empty; the launch checks it.
    if (!listing.open)
        return std::move(scanner.list);
    scanner.absoluteTop = AbsolutePath(top);
    scanner.scan(listing, top, QString());
    return std::move(scanner.list);
}
