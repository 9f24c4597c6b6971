#pragma once

#include "engine/batch/FileMasks.h"

#include <QString>
#include <vector>

// One folder that the scan listed: its name in the folder above it, which FileList turns into
// paths when asked. A folder keeps no path of its own, so a tree thousands of folders deep
// takes memory in proportion to its folders, not to the square of its depth.
struct ScannedFolder
{
    int parent = -1;  // index into FileList::folders; -1 for the top folder
    QString name;     // empty for the top folder
    QString identity; // the same for every path to the folder (FolderIdentity)
};

struct ScannedFile
{
    int folder = 0; // index into FileList::folders
    QString name;
};

// A sub-folder that could not be opened or read: what it holds is unknown.
struct UnlistedFolder
{
    QString path;
    QString systemReason;
};

// The files of a folder tree in scan order. Folder paths are stored once, not per file,
// so the list stays small for trees of many thousands of files.
struct FileList
{
    std::vector<ScannedFolder> folders;
    std::vector<ScannedFile> files;
    std::vector<UnlistedFolder> unlisted;
    QString top;         // the top folder as the scan was given it
    QString absoluteTop; // the same made absolute: deeper folders are named from it

    // The path the scan used for the folder, and its place below the top folder ("" for the
    // top folder itself, "sub/deeper" below it).
    QString folderPath(int folder) const;
    QString relativeFolderPath(int folder) const;
    // The folder's path, "/", the file name.
    QString path(const ScannedFile &file) const;
    // The same from the file's relative path, made once for both.
    QString path(const ScannedFile &file, const QString &relativePath) const;
    // The file's path relative to the scanned top folder, with "/" separators.
    QString relativePath(const ScannedFile &file) const;
};

QString reasonLinkLeadsOut(); // "链接指向所选文件夹之外,未进入"

// Lists every file below folder: a folder's own files (hidden ones included, links to files
// left out) sorted by name with case ignored, then each visible sub-folder in the same order,
// depth first. Links to folders are not entered; one that leads out of the tree is listed as
// unlisted with reasonLinkLeadsOut(). Names that are not text are listed as bytes (FileNames.h),
// and paths longer than the system takes are listed too: reading them fails, and says why.
// A folder that masks leave out is not entered; which files they take is the caller's to ask.
FileList CollectFiles(const QString &folder, const FileMasks &masks = FileMasks());
