#include "engine/scan/Scan.h"

#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"
#include "engine/journal/Journal.h"

#include <QDir>
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
    QString path = QDir::fromNativeSeparators(folder);
    const bool isDriveRoot = path.size() == 3 && path.at(1) == QLatin1Char(':');
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')) && !isDriveRoot)
        path.chop(1);
    return path;
}

// By name with letter case ignored, character code by character code; names that differ
// only in case keep one fixed order.
void SortByName(std::vector<FolderEntry> &entries)
{
    std::vector<std::pair<QString, size_t>> keys;
    keys.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        keys.emplace_back(entries[i].name.toLower(), i);
    std::sort(keys.begin(), keys.end(), [&entries](const auto &a, const auto &b) {
        const int byLower = a.first.compare(b.first);
        return byLower != 0 ? byLower < 0 : entries[a.second].name < entries[b.second].name;
    });
    std::vector<FolderEntry> sorted;
    sorted.reserve(entries.size());
    for (const auto &key : keys)
        sorted.push_back(std::move(entries[key.second]));
    entries = std::move(sorted);
}

class Scanner
{
public:
    FileList list;

    // path names the folder for the file paths of the list; reader has it open.
    void scan(FolderReader &reader, const QString &path, const QString &relativePath)
    {
        const QString identity = reader.identity();
        if (identity.isEmpty() || visited.contains(identity))
            return;
        visited.insert(identity);

        std::vector<FolderEntry> entries = reader.entries();
        if (!reader.error().isEmpty())
            list.unlisted.push_back({path, reader.error()});
        SortByName(entries);
        const int folderIndex = static_cast<int>(list.folders.size());
        list.folders.push_back({path, relativePath, identity});
        for (FolderEntry &entry : entries) {
            if (entry.kind == FolderEntry::File)
                list.files.push_back({folderIndex, std::move(entry.name)});
        }
        for (const FolderEntry &entry : entries) {
            // The journal's name is not hidden on Windows; its originals are no input.
            if (entry.kind != FolderEntry::Folder || entry.hidden ||
                entry.name == journalFolderName)
                continue;
            // Deeper folders are named by absolute paths.
            const QString subPath =
                JoinPath(relativePath.isEmpty() ? absoluteTop : path, entry.name);
            FolderReader sub(reader, entry.name);
            if (sub.isOpen())
                scan(sub, subPath, JoinPath(relativePath, entry.name));
            else
                list.unlisted.push_back({subPath, sub.error()});
        }
    }

    QString absoluteTop;

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
    FolderReader reader(top);
    // A missing top folder scans empty; the launch checks it.
    if (!reader.isOpen())
        return std::move(scanner.list);
    scanner.absoluteTop = QDir(top).absolutePath();
    scanner.scan(reader, top, QString());
    return std::move(scanner.list);
}
