#pragma once

#include <QString>
#include <memory>
#include <vector>

namespace platform {
class Folder;
}

// The questions the engine asks the file system about a path, and the listing of a folder.
// They go to the system with the path's own bytes (FileNames.h), so names that are not text
// are found like any other.

// A directory stands there, links followed.
bool IsFolder(const QString &path);
// True when the user may make files in the existing folder.
bool FolderWritable(const QString &path);
// False when the file is read-only, as a rewrite in place would refuse it ("文件只读").
bool FileWritable(const QString &path);
// Something stands there: also a symbolic link whose target is gone.
bool EntryExists(const QString &path);
// The path with every link resolved and "." and ".." removed; empty when nothing is there.
QString RealFilePath(const QString &path);
// Names the folder itself, the same through every link to it; empty when it cannot be found.
QString FolderIdentity(const QString &path);
// Where a symbolic link points, made absolute; empty when path is no link.
QString SymLinkTarget(const QString &path);
bool RemoveFile(const QString &path);
// Creates one folder in an existing parent. 0, or the platform's code of the failure
// (platform/Folder.h).
int MakeFolder(const QString &path);

struct FolderEntry
{
    enum Kind
    {
        File,   // a plain file, not a link
        Folder, // a folder, not a link
        Link,   // a link, never followed: to a folder (FolderReader), or any (FileTree::list)
        Other,  // a pipe, device or socket (FileTree::list)
    };
    QString name;
    Kind kind = File;
    bool hidden = false;
};

// An open folder, held open, so a sub-folder is opened from it by name, however long the path
// from the top has grown.
class FolderReader
{
public:
    explicit FolderReader(const QString &path);
    FolderReader(const FolderReader &parent, const QString &name);
    ~FolderReader();
    FolderReader(const FolderReader &) = delete;
    FolderReader &operator=(const FolderReader &) = delete;

    bool isOpen() const;
    // The system's words when the folder could not be opened or read to its end.
    QString error() const { return failure; }
    QString identity() const;
    // Plain files, folders and links to folders; links to files and every other kind of entry
    // left out; unsorted.
    std::vector<FolderEntry> entries();

private:
    QString path;
    QString failure;
    std::unique_ptr<platform::Folder> folder;
};
