#include "engine/scan/Scan.h"

#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"
#include "engine/scan/FolderListings.h"

#include <QCoreApplication>
#include <QSet>
#include <QVarLengthArray>
#include <algorithm>
#include <utility>

QString FileList::folderPath(int folder) const
{
    // Deeper folders are named by absolute paths.
    return folder == 0 ? top : JoinPath(absoluteTop, relativeFolderPath(folder));
}

namespace {

// The names from below the top folder down to folder, "/" between them and then last when
// given: collected from the bottom up, then joined in one allocation.
QString NamesBelowTop(const std::vector<ScannedFolder> &folders, int folder, const QString *last)
{
    QVarLengthArray<const QString *, 16> names;
    if (last)
        names.push_back(last);
    int size = 0;
    for (int at = folder; at > 0; at = folders[static_cast<size_t>(at)].parent)
        names.push_back(&folders[static_cast<size_t>(at)].name);
    for (const QString *name : names)
        size += name->size() + 1;
    QString path;
    path.reserve(size);
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!path.isEmpty())
            path += QLatin1Char('/');
        path += **name;
    }
    return path;
}

} // namespace

QString FileList::relativeFolderPath(int folder) const
{
    return NamesBelowTop(folders, folder, nullptr);
}

QString FileList::path(const ScannedFile &file) const
{
    return JoinPath(folderPath(file.folder), file.name);
}

QString FileList::path(const ScannedFile &file, const QString &relativePath) const
{
    return JoinPath(file.folder == 0 ? top : absoluteTop, relativePath);
}

QString FileList::relativePath(const ScannedFile &file) const
{
    return NamesBelowTop(folders, file.folder, &file.name);
}

namespace {

// The texts are English in the code; the user sees them in the language chosen at start.
QString Translated(const char *text)
{
    return QCoreApplication::translate("Scan", text);
}

} // namespace

QString reasonLinkLeadsOut()
{
    return Translated(
        QT_TRANSLATE_NOOP("Scan", "the link leads outside the chosen folder; not entered"));
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

// Depth first on a stack of its own rather than the call stack, which a tree thousands of
// folders deep would overflow on a worker thread.
class Scanner
{
public:
    explicit Scanner(const FileMasks &masks) : listings(masks) {}

    FileList list;
    FolderListings listings;

    void scan(FolderListing top)
    {
        if (!add(top, -1, QString()))
            return;
        while (!open.empty()) {
            Open &folder = open.back();
            const std::vector<FolderEntry> &entries = folder.listing.entries;
            while (folder.next < entries.size() && !IsScannedFolder(entries[folder.next]))
                ++folder.next;
            if (folder.next == entries.size()) {
                open.pop_back();
                continue;
            }
            const size_t entry = folder.next++;
            const int parent = folder.index;
            FolderListing sub = listings.inside(folder.listing, entry);
            const QString name = entries[entry].name;
            if (!sub.open)
                list.unlisted.push_back({JoinPath(list.folderPath(parent), name), sub.error});
            else
                add(std::move(sub), parent, name); // may move the stack: `folder` is spent
        }
    }

private:
    struct Open
    {
        FolderListing listing;
        int index = 0;
        size_t next = 0; // the entry to look at next
    };

    // Lists the folder's own files and puts it on the stack; false for a folder seen before.
    bool add(FolderListing listing, int parent, const QString &name)
    {
        if (listing.identity.isEmpty() || visited.contains(listing.identity))
            return false;
        visited.insert(listing.identity);
        const int index = static_cast<int>(list.folders.size());
        list.folders.push_back({parent, name, listing.identity});
        if (!listing.error.isEmpty())
            list.unlisted.push_back({list.folderPath(index), listing.error});
        for (const FolderEntry &entry : listing.entries) {
            if (entry.kind == FolderEntry::File)
                list.files.push_back({index, entry.name});
            else if (entry.kind == FolderEntry::Link && !entry.hidden)
                checkLink(JoinPath(list.folderPath(index), entry.name));
        }
        open.push_back({std::move(listing), index, 0});
        return true;
    }

    // A link to a folder is never entered: no run may leave the tree it was given through
    // one, and a folder inside the tree is scanned in its own place. One that leads out is
    // listed, so the files it hides are not passed over in silence.
    void checkLink(const QString &path)
    {
        const QString target = RealFilePath(path);
        if (!SameFolder(target, list.absoluteTop) && !FolderInside(target, list.absoluteTop))
            list.unlisted.push_back({path, reasonLinkLeadsOut()});
    }

    std::vector<Open> open;
    QSet<QString> visited;
};

} // namespace

FileList CollectFiles(const QString &folder, const FileMasks &masks)
{
    Scanner scanner(masks);
    if (folder.isEmpty())
        return std::move(scanner.list);
    const QString top = TopFolderPath(folder);
    const FolderListing listing = scanner.listings.top(top);
    // A missing top folder scans empty; the launch checks it.
    if (!listing.open)
        return std::move(scanner.list);
    scanner.list.top = top;
    scanner.list.absoluteTop = AbsolutePath(top);
    scanner.scan(listing);
    return std::move(scanner.list);
}
