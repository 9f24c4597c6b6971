#pragma once

#include "engine/scan/Scan.h"

#include <QHash>
#include <QString>
#include <utility>
#include <vector>

// Answers whether a path, links resolved, names one of the files of a scan. A save folder
// inside the source folder (or around it, or reached through a link) can place one file's
// target on another source file, which must not be overwritten.
class ScannedFileSet
{
public:
    explicit ScannedFileSet(const FileList &files);
    bool contains(const QString &path) const;

private:
    const FileList &files;
    QHash<QString, int> folderByIdentity;
    std::vector<std::pair<int, int>> fileRanges; // each folder's files in the list, [first, end)
    // Each folder's file names, sorted, made on the first question about that folder.
    mutable QHash<int, std::vector<QString>> namesByFolder;
};
