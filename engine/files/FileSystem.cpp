#include "engine/files/FileSystem.h"

#include "engine/files/FileNames.h"
#include "engine/files/Paths.h"
#include "platform/Folder.h"

namespace {

QString Identity(const platform::EntryInfo &info)
{
    return QString::number(static_cast<qulonglong>(info.device)) + QLatin1Char(':') +
           QString::number(static_cast<qulonglong>(info.inode));
}

platform::EntryInfo Info(const QString &path, bool followLink)
{
    platform::EntryInfo info;
    platform::PathInfo(ToNativePath(path), followLink, info);
    return info;
}

} // namespace

bool IsFolder(const QString &path)
{
    return Info(path, true).kind == platform::EntryKind::Folder;
}

bool FolderWritable(const QString &path)
{
    return platform::MayWriteFolder(ToNativePath(path)) == 0;
}

bool FileWritable(const QString &path)
{
    return platform::MayWriteFile(ToNativePath(path)) == 0;
}

bool EntryExists(const QString &path)
{
    return Info(path, false).kind != platform::EntryKind::Missing;
}

QString RealFilePath(const QString &path)
{
    platform::NativePath real;
    return platform::RealPath(ToNativePath(path), real) == 0 ? FromNativePath(real) : QString();
}

QString FolderIdentity(const QString &path)
{
    const platform::EntryInfo info = Info(path, true);
    return info.kind == platform::EntryKind::Folder ? Identity(info) : QString();
}

QString SymLinkTarget(const QString &path)
{
    platform::NativePath target;
    if (platform::LinkTarget(ToNativePath(path), target) != 0)
        return QString();
    const QString decoded = FromNativePath(target);
    if (decoded.startsWith(QLatin1Char('/')) ||
        (decoded.size() > 1 && decoded.at(1) == QLatin1Char(':')))
        return decoded;
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return JoinPath(slash < 0 ? QStringLiteral(".") : path.left(slash + 1), decoded);
}

bool RemoveFile(const QString &path)
{
    return platform::RemoveEntry(ToNativePath(path)) == 0;
}

int MakeFolder(const QString &path)
{
    return platform::MakeOneFolder(ToNativePath(path), 0777);
}

FolderReader::FolderReader(const QString &path) : path(path), folder(new platform::Folder)
{
    if (const int failure = platform::Folder::Open(ToNativePath(path), *folder))
        this->failure = SystemErrorText(failure);
}

FolderReader::FolderReader(const FolderReader &parent, const QString &name)
    : path(JoinPath(parent.path, name)), folder(new platform::Folder)
{
    if (!parent.isOpen()) {
        failure = parent.failure;
        return;
    }
    if (const int error = parent.folder->openChild(ToNativePath(name), *folder))
        failure = SystemErrorText(error);
}

FolderReader::~FolderReader() = default;

bool FolderReader::isOpen() const
{
    return folder->isOpen();
}

QString FolderReader::identity() const
{
    platform::EntryInfo info;
    return isOpen() && folder->info(platform::NativePath(), info) == 0 ? Identity(info) : QString();
}

std::vector<FolderEntry> FolderReader::entries()
{
    std::vector<FolderEntry> list;
    std::vector<platform::ListedEntry> names;
    if (!isOpen())
        return list;
    if (const int error = folder->list(names))
        failure = SystemErrorText(error);
    list.reserve(names.size());
    for (const platform::ListedEntry &entry : names) {
        FolderEntry::Kind kind;
        platform::EntryInfo target;
        if (entry.kind == platform::EntryKind::File) {
            kind = FolderEntry::File;
        } else if (entry.kind == platform::EntryKind::Folder) {
            kind = FolderEntry::Folder;
        } else if (entry.kind == platform::EntryKind::Link &&
                   folder->info(entry.name, target, true) == 0 &&
                   target.kind == platform::EntryKind::Folder) {
            kind = FolderEntry::Link;
        } else {
            continue; // a link to a file, a dangling link, a pipe or a device
        }
        const QString name = FromNativePath(entry.name);
        list.push_back({name, kind, name.startsWith(QLatin1Char('.'))});
    }
    return list;
}
