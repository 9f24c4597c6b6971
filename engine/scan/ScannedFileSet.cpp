#include "engine/scan/ScannedFileSet.h"

#include "engine/files/FileSystem.h"

#include <algorithm>

ScannedFileSet::ScannedFileSet(const FileList &files) : files(files)
{
    for (size_t i = 0; i < files.folders.size(); ++i)
        folderByIdentity.insert(files.folders[i].identity, static_cast<int>(i));
    // The scan lists a folder's own files together.
    fileRanges.assign(files.folders.size(), {0, 0});
    for (size_t i = 0; i < files.files.size(); ++i) {
        std::pair<int, int> &range = fileRanges[static_cast<size_t>(files.files[i].folder)];
        if (range.first == range.second)
            range.first = static_cast<int>(i);
        range.second = static_cast<int>(i) + 1;
    }
}

bool ScannedFileSet::contains(const QString &path) const
{
    const QString real = RealFilePath(path);
    const int slash = real.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return false; // nothing there yet, so nothing to overwrite
    const QString name = real.mid(slash + 1);
    // A root keeps its separator: "/", "D:/".
    const QString folderPath =
        real.left(slash == 0 || real.at(slash - 1) == QLatin1Char(':') ? slash + 1 : slash);
    const auto folder = folderByIdentity.constFind(FolderIdentity(folderPath));
    if (folder == folderByIdentity.constEnd())
        return false;
    auto names = namesByFolder.find(*folder);
    if (names == namesByFolder.end()) {
        std::vector<QString> sorted;
        const std::pair<int, int> range = fileRanges[static_cast<size_t>(*folder)];
        for (int i = range.first; i < range.second; ++i)
            sorted.push_back(files.files[static_cast<size_t>(i)].name);
        std::sort(sorted.begin(), sorted.end());
        names = namesByFolder.insert(*folder, std::move(sorted));
    }
    return std::binary_search(names->begin(), names->end(), name);
}
