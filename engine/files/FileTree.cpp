#include "engine/files/FileTree.h"

#include "engine/files/FileNames.h"
#include "engine/files/FolderCalls.h"
#include "platform/Folder.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

// Qt 5 keeps a byte array's header in the same block, which may not exceed the int range.
const qint64 largestRead = std::numeric_limits<int>::max() - 128;

FileIdentity IdentityOf(const platform::EntryInfo &info)
{
    return {qint64(info.device), qint64(info.inode), info.size, info.modifiedNs};
}

FileTree::Kind KindOf(platform::EntryKind kind)
{
    switch (kind) {
    case platform::EntryKind::File:
        return FileTree::Kind::File;
    case platform::EntryKind::Folder:
        return FileTree::Kind::Folder;
    case platform::EntryKind::Link:
        return FileTree::Kind::Link;
    case platform::EntryKind::Other:
        return FileTree::Kind::Other;
    case platform::EntryKind::Missing:
        break;
    }
    return FileTree::Kind::Missing;
}

// The folder part and the last name of a relative path.
struct Split
{
    QString folder;
    QString name;
};

Split SplitRelative(const QString &relative)
{
    const int slash = relative.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {QString(), relative};
    return {relative.left(slash), relative.mid(slash + 1)};
}

const QString &NotBeneath()
{
    static const QString text =
        QCoreApplication::translate("FileTree", "the path is not inside the given folder");
    return text;
}

bool Failed(QString *error, int code)
{
    if (error)
        *error = code == platform::ErrorNotBeneath ? NotBeneath() : SystemErrorText(code);
    return false;
}

} // namespace

FileIoResult ReadOpenFile(platform::File &file, const SourceRead &how, QByteArray &bytes,
                          FileIdentity *identity, QString *error)
{
    bytes.clear();
    const auto fail = [&](int code) {
        bytes.clear();
        Failed(error, code);
        return FileIoResult::Failed;
    };
    platform::EntryInfo info;
    if (const int failure = file.info(info))
        return fail(failure);
    const FileIdentity measured = IdentityOf(info);
    if (identity)
        *identity = measured;
    if (measured.size > std::min(how.sizeLimit, largestRead))
        return FileIoResult::TooLarge;
    if (how.beforeAllocating)
        how.beforeAllocating(measured.size);
    bytes.resize(static_cast<int>(measured.size));
    // A network or FUSE file system may return less than asked at any point, and Linux gives
    // at most about 2 GB per call: only a read of nothing ends the file.
    qint64 total = 0;
    while (total < measured.size) {
        std::size_t got = 0;
        if (const int failure =
                file.read(bytes.data() + total, std::size_t(measured.size - total), got))
            return fail(failure);
        if (got == 0)
            break;
        total += qint64(got);
    }
    if (total == measured.size) {
        char beyond = 0;
        std::size_t got = 0;
        if (const int failure = file.read(&beyond, 1, got))
            return fail(failure);
        total += qint64(got);
    }
    if (total != measured.size) {
        bytes.clear();
        return FileIoResult::Changed;
    }
    return FileIoResult::Done;
}

namespace {

// flushed: the caller flushes the tree's writes before their renames.
platform::ReplaceCheck Grouped(platform::ReplaceCheck check, bool flushed)
{
    check.flushFollows = flushed;
    return check;
}

platform::ReplaceCheck InPlaceCheck(const FileIdentity &asRead)
{
    platform::ReplaceCheck check;
    check.checkIdentity = true;
    check.expected.device = std::uint64_t(asRead.device);
    check.expected.inode = std::uint64_t(asRead.inode);
    check.expected.size = asRead.size;
    check.expected.modifiedNs = asRead.modifiedNs;
    check.refuseReadOnly = true;
    check.refuseHardLinked = true;
    return check;
}

FileIoResult ResultOf(int failure, const QString &refusal, QString *error)
{
    switch (failure) {
    case 0:
        return FileIoResult::Done;
    case platform::ErrorChanged:
        return FileIoResult::Changed;
    case platform::ErrorReadOnly:
        return FileIoResult::ReadOnly;
    case platform::ErrorHardLinked:
        return FileIoResult::HardLinked;
    case platform::ErrorRefused:
        if (error)
            *error = refusal;
        return FileIoResult::Refused;
    default:
        Failed(error, failure);
        return FileIoResult::Failed;
    }
}

} // namespace

FileIoResult ReplaceInFolder(platform::Folder &parent, const platform::NativePath &name,
                             const QByteArray &bytes, const FileIdentity &asRead,
                             const BeforeReplace &beforeReplace, QString *error, bool durable)
{
    platform::ReplaceCheck check = InPlaceCheck(asRead);
    QString refusal;
    if (beforeReplace)
        check.beforeRename = [&] { return beforeReplace(&refusal); };
    const int failure =
        parent.replaceFile(name, bytes.constData(), std::size_t(bytes.size()), check, durable);
    return ResultOf(failure, refusal, error);
}

PendingWrite::PendingWrite() = default;
PendingWrite::~PendingWrite() = default;
PendingWrite::PendingWrite(PendingWrite &&) noexcept = default;
PendingWrite &PendingWrite::operator=(PendingWrite &&) noexcept = default;

bool PendingWrite::isPending() const
{
    return pending && pending->isPending();
}

FileIoResult PendingWrite::confirm(const BeforeReplace &beforeReplace, QString *error)
{
    if (!pending)
        return ResultOf(platform::ErrorNotOpen, QString(), error);
    QString refusal;
    std::function<bool()> last;
    if (beforeReplace)
        last = [&] { return beforeReplace(&refusal); };
    const FileIoResult result = ResultOf(pending->confirm(last), refusal, error);
    if (result != FileIoResult::Done)
        drop();
    return result;
}

FileIoResult PendingWrite::commit(QString *error)
{
    if (!pending)
        return ResultOf(platform::ErrorNotOpen, QString(), error);
    const FileIoResult result = ResultOf(pending->commit(), QString(), error);
    drop();
    return result;
}

void PendingWrite::drop()
{
    pending.reset();
}

FileTree::FileTree(const QString &topPath) : top(topPath), folder(new platform::Folder)
{
    if (const int failure = platform::Folder::Open(ToNativePath(topPath), *folder))
        this->failure = SystemErrorText(failure);
}

FileTree::~FileTree()
{
    HeldFolders::forget(folder.get());
}
FileTree::FileTree(FileTree &&) noexcept = default;

bool FileTree::isOpen() const
{
    return folder && folder->isOpen();
}

QString FileTree::error() const
{
    return failure;
}

QString FileTree::pathOf(const QString &relative) const
{
    if (relative.isEmpty())
        return top;
    if (top.endsWith(QLatin1Char('/')) || top.endsWith(QLatin1Char('\\')))
        return top + relative;
    return top + QLatin1Char('/') + relative;
}

bool FileTree::IsValidRelative(const QString &relative)
{
    // Converted whole, once: names convert one by one to the same bytes.
    return relative.isEmpty() || platform::IsPlainRelative(ToNativePath(relative));
}

namespace {

thread_local HeldFolders *threadHeldFolders = nullptr;

// The file at relative, a path of plain names, opened beneath the top, through the thread's
// held folder when it has one; 0 or the failure.
int OpenFileBeneath(const platform::Folder &top, const QString &relative, platform::File &file)
{
    const platform::NativePath native = ToNativePath(relative);
    if (native.empty() || !platform::IsPlainRelative(native))
        return platform::ErrorNotBeneath;
    return top.openFileBeneath(native, file, HeldFolders::current());
}

// The folder holding relative's last name: the one the thread holds for it (HeldFolders), or
// else own, opened beneath the top; 0 or the failure.
int OpenParent(const platform::Folder &top, const QString &relative, platform::Folder &own,
               platform::Folder *&parent, QString &name)
{
    if (relative.isEmpty() || !FileTree::IsValidRelative(relative))
        return platform::ErrorNotBeneath;
    const Split split = SplitRelative(relative);
    name = split.name;
    if (platform::HeldParents *held = HeldFolders::current())
        return held->open(top, ToNativePath(split.folder), parent);
    parent = &own;
    return top.openBeneath(ToNativePath(split.folder), own);
}

} // namespace

FileTree::Kind FileTree::kind(const QString &relative) const
{
    if (!isOpen())
        return Kind::Missing;
    platform::EntryInfo info;
    if (relative.isEmpty())
        return folder->info(platform::NativePath(), info) == 0 ? KindOf(info.kind) : Kind::Missing;
    platform::Folder own, *parent = nullptr;
    QString name;
    if (OpenParent(*folder, relative, own, parent, name) != 0 ||
        parent->info(ToNativePath(name), info) != 0)
        return Kind::Missing;
    return KindOf(info.kind);
}

FileIoResult FileTree::readFile(const QString &relative, QByteArray &bytes, FileIdentity *identity,
                                QString *error) const
{
    SourceRead how;
    how.sizeLimit = largestRead;
    return readFile(relative, how, bytes, identity, error);
}

FileIoResult FileTree::readFile(const QString &relative, const SourceRead &how, QByteArray &bytes,
                                FileIdentity *identity, QString *error) const
{
    bytes.clear();
    platform::File file;
    int failure = platform::ErrorNotOpen;
    if (isOpen())
        failure = OpenFileBeneath(*folder, relative, file);
    if (failure != 0) {
        Failed(error, failure);
        return FileIoResult::Failed;
    }
    return ReadOpenFile(file, how, bytes, identity, error);
}

FileIoResult FileTree::openRead(const QString &relative, StreamedRead &file, QString *error) const
{
    file = StreamedRead();
    auto opened = std::make_unique<platform::File>();
    int failure = platform::ErrorNotOpen;
    if (isOpen())
        failure = OpenFileBeneath(*folder, relative, *opened);
    platform::EntryInfo info;
    if (failure == 0)
        failure = opened->info(info);
    if (failure != 0) {
        Failed(error, failure);
        return FileIoResult::Failed;
    }
    file.file = std::move(opened);
    file.measured = IdentityOf(info);
    return FileIoResult::Done;
}

HeldFolders::HeldFolders() : outer(threadHeldFolders), held(new platform::HeldParents)
{
    threadHeldFolders = this;
}

HeldFolders::~HeldFolders()
{
    threadHeldFolders = outer;
}

void HeldFolders::release()
{
    held->release();
}

platform::HeldParents *HeldFolders::current()
{
    return threadHeldFolders ? threadHeldFolders->held.get() : nullptr;
}

void HeldFolders::forget(const platform::Folder *top)
{
    for (HeldFolders *each = threadHeldFolders; top && each; each = each->outer)
        each->held->forget(*top);
}

StreamedRead::StreamedRead() = default;
StreamedRead::~StreamedRead() = default;
StreamedRead::StreamedRead(StreamedRead &&) noexcept = default;
StreamedRead &StreamedRead::operator=(StreamedRead &&) noexcept = default;

bool StreamedRead::isOpen() const
{
    return file && file->isOpen();
}

FileIoResult StreamedRead::read(char *data, qint64 size, qint64 &got, QString *error)
{
    got = 0;
    if (!isOpen()) {
        Failed(error, platform::ErrorNotOpen);
        return FileIoResult::Failed;
    }
    if (atMeasuredEnd)
        return FileIoResult::Done;
    std::size_t read = 0;
    if (const int failure = file->read(data, std::size_t(size), read)) {
        Failed(error, failure);
        return FileIoResult::Failed;
    }
    got = qint64(read);
    total += got;
    // Only a read of nothing ends the file: a network file system may give less at any point.
    if (total > measured.size || (got == 0 && total != measured.size))
        return FileIoResult::Changed;
    // A read that fell short right at the size measured needs no second read to say so; a file
    // grown since it was opened is no longer the one measured, and is not written.
    atMeasuredEnd = got < size && total == measured.size;
    return FileIoResult::Done;
}

FileIoResult StreamedRead::rewind(QString *error)
{
    const int failure = isOpen() ? file->rewind() : platform::ErrorNotOpen;
    if (failure != 0) {
        Failed(error, failure);
        return FileIoResult::Failed;
    }
    total = 0;
    atMeasuredEnd = false;
    return FileIoResult::Done;
}

FileIoResult StreamedRead::readWhole(const SourceRead &how, QByteArray &bytes, QString *error)
{
    bytes.clear();
    const FileIoResult rewound = rewind(error);
    if (rewound != FileIoResult::Done)
        return rewound;
    FileIdentity ignored;
    const FileIoResult result = ReadOpenFile(*file, how, bytes, &ignored, error);
    total = bytes.size();
    return result;
}

std::vector<FolderEntry> FileTree::list(const QString &relative, QString *error) const
{
    std::vector<FolderEntry> entries;
    if (!isOpen()) {
        Failed(error, platform::ErrorNotOpen);
        return entries;
    }
    if (!IsValidRelative(relative)) {
        Failed(error, platform::ErrorNotBeneath);
        return entries;
    }
    platform::Folder listed;
    std::vector<platform::ListedEntry> names;
    int failure = folder->openBeneath(ToNativePath(relative), listed);
    if (failure == 0)
        failure = listed.list(names);
    if (failure != 0) {
        Failed(error, failure);
        return entries;
    }
    entries.reserve(names.size());
    for (const platform::ListedEntry &entry : names) {
        FolderEntry::Kind kind = FolderEntry::Other;
        switch (entry.kind) {
        case platform::EntryKind::File:
            kind = FolderEntry::File;
            break;
        case platform::EntryKind::Folder:
            kind = FolderEntry::Folder;
            break;
        case platform::EntryKind::Link:
            kind = FolderEntry::Link;
            break;
        default:
            break;
        }
        const QString name = FromNativePath(entry.name);
        entries.push_back({name, kind, name.startsWith(QLatin1Char('.'))});
    }
    return entries;
}

bool FileTree::makeFolder(const QString &relative, Access access, QString *error)
{
    if (!isOpen())
        return Failed(error, platform::ErrorNotOpen);
    if (relative.isEmpty() || !IsValidRelative(relative))
        return Failed(error, platform::ErrorNotBeneath);
    const std::uint32_t mode = access == Access::Private ? 0700 : 0777;
    // Mostly the folder is there already: one call beneath the top finds it.
    platform::Folder standing;
    if (folder->openBeneath(ToNativePath(relative), standing) == 0)
        return true;
    platform::Folder current;
    if (const int failure = folder->duplicate(current))
        return Failed(error, failure);
    // Name by name from the top, each one opened without following a link.
    for (const QString &name : relative.split(QLatin1Char('/'))) {
        const platform::NativePath native = ToNativePath(name);
        platform::Folder next;
        int failure = current.openChild(native, next);
        if (platform::IsMissing(failure)) {
            failure = current.makeFolder(native, mode);
            if (failure == 0 || platform::IsExisting(failure))
                failure = current.openChild(native, next);
        }
        if (failure != 0)
            return Failed(error, failure);
        current = std::move(next);
    }
    return true;
}

bool FileTree::writeNewFile(const QString &relative, const QByteArray &bytes, Access access,
                            QString *error, bool durable)
{
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        isOpen() ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    if (failure == 0)
        failure =
            parent->writeNewFile(ToNativePath(name), bytes.constData(), std::size_t(bytes.size()),
                                 access == Access::Private ? 0600 : 0666, durable);
    return failure == 0 || Failed(error, failure);
}

AppendedFile::AppendedFile() = default;
AppendedFile::~AppendedFile() = default;
AppendedFile::AppendedFile(AppendedFile &&) noexcept = default;
AppendedFile &AppendedFile::operator=(AppendedFile &&) noexcept = default;

bool AppendedFile::isOpen() const
{
    return file && file->isOpen();
}

bool AppendedFile::append(const QByteArray &bytes, QString *error)
{
    const int failure =
        file ? file->append(bytes.constData(), std::size_t(bytes.size())) : platform::ErrorNotOpen;
    return failure == 0 || Failed(error, failure);
}

bool AppendedFile::flush(QString *error)
{
    const int failure = file ? file->flush() : platform::ErrorNotOpen;
    return failure == 0 || Failed(error, failure);
}

bool FileTree::createAppendedFile(const QString &relative, Access access, AppendedFile &file,
                                  QString *error)
{
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        isOpen() ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    auto created = std::make_unique<platform::AppendFile>();
    if (failure == 0)
        failure = parent->createAppendFile(ToNativePath(name),
                                           access == Access::Private ? 0600 : 0666, *created);
    if (failure != 0)
        return Failed(error, failure);
    file.file = std::move(created);
    return true;
}

bool FileTree::replaceFile(const QString &relative, const QByteArray &bytes, QString *error,
                           bool durable)
{
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        isOpen() ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    if (failure == 0)
        failure = parent->replaceFile(ToNativePath(name), bytes.constData(),
                                      std::size_t(bytes.size()), platform::ReplaceCheck(), durable);
    return failure == 0 || Failed(error, failure);
}

FileIoResult FileTree::replaceInPlace(const QString &relative, const QByteArray &bytes,
                                      const FileIdentity &asRead,
                                      const BeforeReplace &beforeReplace, QString *error,
                                      bool durable)
{
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        isOpen() ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    if (failure != 0) {
        Failed(error, failure);
        return FileIoResult::Failed;
    }
    return ReplaceInFolder(*parent, ToNativePath(name), bytes, asRead, beforeReplace, error,
                           durable);
}

FileIoResult FileTree::prepareInPlace(const QString &relative, const QByteArray &bytes,
                                      const FileIdentity &asRead, PendingWrite &pending,
                                      QString *error)
{
    pending.drop();
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        isOpen() ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    auto prepared = std::make_unique<platform::PendingReplace>();
    if (failure == 0)
        failure =
            parent->prepareReplace(ToNativePath(name), bytes.constData(), std::size_t(bytes.size()),
                                   Grouped(InPlaceCheck(asRead), flushedInGroups), *prepared);
    if (failure == 0)
        pending.pending = std::move(prepared);
    return ResultOf(failure, QString(), error);
}

bool FileTree::prepareFile(const QString &relative, const QByteArray &bytes, PendingWrite &pending,
                           QString *error)
{
    pending.drop();
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        isOpen() ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    auto prepared = std::make_unique<platform::PendingReplace>();
    if (failure == 0)
        failure =
            parent->prepareReplace(ToNativePath(name), bytes.constData(), std::size_t(bytes.size()),
                                   Grouped(platform::ReplaceCheck(), flushedInGroups), *prepared);
    if (failure == 0)
        pending.pending = std::move(prepared);
    return failure == 0 || Failed(error, failure);
}

namespace {

// The content's own failure travels through the platform as a refusal, its reason beside it.
FileIoResult PrepareStreamed(platform::Folder *folder, const QString &relative,
                             const FileTree::StreamedContent &content,
                             const platform::ReplaceCheck &check,
                             platform::PendingReplace &prepared, QString *error)
{
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        folder ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    FileIoResult produced = FileIoResult::Done;
    QString why;
    if (failure == 0)
        failure = parent->prepareReplace(
            ToNativePath(name),
            [&](const platform::Folder::Write &write) {
                int written = 0;
                produced = content(
                    [&](const char *data, qint64 size) {
                        written = write(data, std::size_t(size));
                        return written == 0;
                    },
                    &why);
                if (written != 0)
                    return written;
                return produced == FileIoResult::Done ? 0 : int(platform::ErrorRefused);
            },
            check, prepared);
    if (failure == 0)
        return FileIoResult::Done;
    if (failure == platform::ErrorRefused && produced != FileIoResult::Done) {
        if (error)
            *error = why;
        return produced;
    }
    return ResultOf(failure, QString(), error);
}

} // namespace

FileIoResult FileTree::prepareInPlace(const QString &relative, const StreamedContent &content,
                                      const FileIdentity &asRead, PendingWrite &pending,
                                      QString *error)
{
    pending.drop();
    auto prepared = std::make_unique<platform::PendingReplace>();
    const FileIoResult result =
        PrepareStreamed(isOpen() ? folder.get() : nullptr, relative, content,
                        Grouped(InPlaceCheck(asRead), flushedInGroups), *prepared, error);
    if (result == FileIoResult::Done)
        pending.pending = std::move(prepared);
    return result;
}

FileIoResult FileTree::prepareFile(const QString &relative, const StreamedContent &content,
                                   PendingWrite &pending, QString *error)
{
    pending.drop();
    auto prepared = std::make_unique<platform::PendingReplace>();
    const FileIoResult result =
        PrepareStreamed(isOpen() ? folder.get() : nullptr, relative, content,
                        Grouped(platform::ReplaceCheck(), flushedInGroups), *prepared, error);
    if (result == FileIoResult::Done)
        pending.pending = std::move(prepared);
    return result;
}

TreeFileLock::TreeFileLock() = default;
TreeFileLock::~TreeFileLock() = default;
TreeFileLock::TreeFileLock(TreeFileLock &&) noexcept = default;
TreeFileLock &TreeFileLock::operator=(TreeFileLock &&) noexcept = default;

bool TreeFileLock::isHeld() const
{
    return lock && lock->isHeld();
}

void TreeFileLock::release()
{
    if (lock)
        lock->release();
}

bool FileTree::flushWrites(QString *error)
{
    const int failure = isOpen() ? platform::FlushWrites(*folder) : platform::ErrorNotOpen;
    return failure == 0 || Failed(error, failure);
}

bool FileTree::flushCoversFiles()
{
    return platform::FlushCoversFiles();
}

namespace {

// A call on two names, each in its own folder opened beneath the top.
template <typename Call>
int BetweenFolders(const platform::Folder *top, const QString &from, const QString &to, Call call)
{
    if (!top)
        return platform::ErrorNotOpen;
    platform::Folder fromOwn, toOwn;
    platform::Folder *fromParent = nullptr, *toParent = nullptr;
    QString fromName, toName;
    int failure = OpenParent(*top, from, fromOwn, fromParent, fromName);
    if (failure == 0)
        failure = OpenParent(*top, to, toOwn, toParent, toName);
    if (failure == 0)
        failure = call(*fromParent, ToNativePath(fromName), *toParent, ToNativePath(toName));
    return failure;
}

} // namespace

bool FileTree::linkFile(const QString &from, const QString &to, QString *error)
{
    const int failure =
        BetweenFolders(isOpen() ? folder.get() : nullptr, from, to,
                       [](platform::Folder &fromParent, const platform::NativePath &fromName,
                          platform::Folder &toParent, const platform::NativePath &toName) {
                           return fromParent.link(fromName, toParent, toName);
                       });
    return failure == 0 || Failed(error, failure);
}

bool FileTree::copyFile(const QString &from, const QString &to, QString *error, bool durable)
{
    const int failure =
        BetweenFolders(isOpen() ? folder.get() : nullptr, from, to,
                       [durable](platform::Folder &fromParent, const platform::NativePath &fromName,
                                 platform::Folder &toParent, const platform::NativePath &toName) {
                           return fromParent.copyFile(fromName, toParent, toName, durable);
                       });
    return failure == 0 || Failed(error, failure);
}

bool FileTree::rename(const QString &from, const QString &to, QString *error)
{
    const int failure =
        BetweenFolders(isOpen() ? folder.get() : nullptr, from, to,
                       [](platform::Folder &fromParent, const platform::NativePath &fromName,
                          platform::Folder &toParent, const platform::NativePath &toName) {
                           return fromParent.rename(fromName, toParent, toName);
                       });
    return failure == 0 || Failed(error, failure);
}

bool FileTree::removeFile(const QString &relative, QString *error)
{
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        isOpen() ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    if (failure == 0)
        failure = parent->removeFile(ToNativePath(name));
    return failure == 0 || Failed(error, failure);
}

bool FileTree::removeTree(const QString &relative, QString *error)
{
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        isOpen() ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    if (failure == 0)
        failure = parent->removeTree(ToNativePath(name));
    return failure == 0 || Failed(error, failure);
}

bool FileTree::setStamp(const QString &relative, const FileStamp &stamp, QString *error)
{
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        isOpen() ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    if (failure == 0)
        failure = parent->setStamp(ToNativePath(name), stamp.modifiedNs, stamp.mode);
    return failure == 0 || Failed(error, failure);
}

FileTree::LockResult FileTree::lockFile(const QString &relative, bool wait, TreeFileLock &lock,
                                        QString *error) const
{
    if (!lock.lock)
        lock.lock = std::make_unique<platform::FileLock>();
    platform::Folder own, *parent = nullptr;
    QString name;
    int failure =
        isOpen() ? OpenParent(*folder, relative, own, parent, name) : platform::ErrorNotOpen;
    if (failure == 0)
        failure = parent->lockFile(ToNativePath(name), *folder, wait, *lock.lock);
    if (failure == platform::ErrorBusy)
        return LockResult::Busy;
    return failure == 0 || Failed(error, failure) ? LockResult::Held : LockResult::Refused;
}

bool FileTree::readStamp(const QString &relative, FileStamp &stamp) const
{
    platform::EntryInfo info;
    if (!isOpen())
        return false;
    if (relative.isEmpty()) {
        if (folder->info(platform::NativePath(), info) != 0)
            return false;
    } else {
        platform::Folder own, *parent = nullptr;
        QString name;
        if (OpenParent(*folder, relative, own, parent, name) != 0 ||
            parent->info(ToNativePath(name), info) != 0)
            return false;
    }
    if (info.kind != platform::EntryKind::File && info.kind != platform::EntryKind::Folder)
        return false;
    stamp.size = info.size;
    stamp.modifiedNs = info.modifiedNs;
    stamp.mode = info.mode;
    return true;
}
