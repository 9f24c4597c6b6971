#pragma once

#include <QString>
#include <vector>

// One folder that the scan listed: the path the scan used for it, and its place below the
// scanned top folder ("" for the top folder itself, "sub/deeper" below it).
struct ScannedFolder
{
    QString path;
    QString relativePath;
    QString realPath; // links resolved
};

struct ScannedFile
{
    int folder = 0; // index into FileList::folders
    QString name;
};

// The files of a folder tree in scan order. Folder paths are stored once, not per file,
// so the list stays small for trees of many thousands of files.
struct FileList
{
    std::vector<ScannedFolder> folders;
    std::vector<ScannedFile> files;

    // The folder's path, "/", the file name.
    QString path(const ScannedFile &file) const;
    // The file's path relative to the scanned top folder, with "/" separators.
    QString relativePath(const ScannedFile &file) const;
};

// Lists every file below folder: a folder's own files (hidden ones included, links to files
// left out) sorted by name with case ignored, then each visible sub-folder in the same order,
// depth first. Links to folders are followed, but every real folder is listed only once, so
// link cycles end.
FileList CollectFiles(const QString &folder);
