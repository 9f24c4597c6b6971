#include "engine/journal/Undo.h"

#include <QCoreApplication>

#include "engine/batch/Failure.h"
#include "engine/files/FileIo.h"
#include "engine/files/FileTree.h"
#include "engine/files/Paths.h"
#include "engine/journal/ContentHash.h"
#include "engine/journal/RunDescription.h"

#include <algorithm>

namespace {

// The texts are English in the code; the user sees them in the language chosen at start.
QString Translated(const char *text)
{
    return QCoreApplication::translate("Undo", text);
}

} // namespace

QString reasonChangedSinceRun()
{
    return Translated(QT_TRANSLATE_NOOP("Undo", "changed again since the run; not restored"));
}
QString reasonGoneSinceRun()
{
    return Translated(QT_TRANSLATE_NOOP("Undo", "the file no longer exists; not restored"));
}
QString reasonOriginalLost()
{
    return Translated(QT_TRANSLATE_NOOP(
        "Undo", "the original in the undo journal is missing or altered; cannot restore"));
}
QString reasonEntryInvalid()
{
    return Translated(QT_TRANSLATE_NOOP("Undo", "invalid undo record; not restored"));
}
QString messageNothingToUndo()
{
    return Translated(QT_TRANSLATE_NOOP("Undo", "Nothing to undo"));
}

namespace {

bool Holds(const QByteArray &bytes, qint64 size, quint64 hash)
{
    return bytes.size() == size && ContentHash(bytes) == hash;
}

QString WithSystemReason(const QString &reason, const QString &systemReason)
{
    if (systemReason.isEmpty())
        return reason;
    return reason + QStringLiteral(" (") + systemReason + QLatin1Char(')');
}

QString FolderOf(const QString &relative)
{
    return relative.left(std::max(0, int(relative.lastIndexOf(QLatin1Char('/')))));
}

// True when a folder on the way from the top to the entry is a link: it may lead anywhere.
bool LeadsThroughLink(const FileTree &tree, const QString &relativePath)
{
    for (int slash = relativePath.indexOf(QLatin1Char('/')); slash > 0;
         slash = relativePath.indexOf(QLatin1Char('/'), slash + 1)) {
        if (tree.kind(relativePath.left(slash)) == FileTree::Kind::Link)
            return true;
    }
    return false;
}

QString Below(const QString &folder, const QString &name)
{
    return folder.isEmpty() ? name : folder + QLatin1Char('/') + name;
}

// Temporary files of writers that are gone, in a folder a file was restored to, go as a run
// lets them go; each folder is looked at once.
void RemoveStaleTemporaries(FileTree &tree, const QString &folder, QSet<QString> &cleaned)
{
    if (cleaned.contains(folder))
        return;
    cleaned.insert(folder);
    for (const FolderEntry &entry : tree.list(folder, nullptr)) {
        if (entry.kind == FolderEntry::File && IsStaleTemporaryName(entry.name))
            tree.removeFile(Below(folder, entry.name), nullptr);
    }
}

// A killed run leaves the temporaries of the files it had begun to write, also of files it
// never journaled, anywhere in the tree: every folder is looked at, none through a link,
// the journal's own aside.
void RemoveRunTemporaries(FileTree &tree)
{
    QStringList folders{QString()};
    while (!folders.isEmpty()) {
        const QString folder = folders.takeLast();
        for (const FolderEntry &entry : tree.list(folder, nullptr)) {
            const QString path = Below(folder, entry.name);
            if (entry.kind == FolderEntry::File && IsStaleTemporaryName(entry.name))
                tree.removeFile(path, nullptr);
            else if (entry.kind == FolderEntry::Folder && path != journalFolderName)
                folders.append(path);
        }
    }
}

UndoFile::Status StatusOf(FileIoResult result, const QString &error, QString &reason)
{
    switch (result) {
    case FileIoResult::Done:
        return UndoFile::Restored;
    case FileIoResult::Changed:
        reason = reasonChangedDuringRun();
        return UndoFile::Refused;
    case FileIoResult::ReadOnly:
        reason = reasonReadOnly();
        return UndoFile::Refused;
    case FileIoResult::HardLinked:
        reason = reasonChangedSinceRun();
        return UndoFile::Refused;
    default:
        reason = WithSystemReason(reasonWriteFailed(), error);
        return UndoFile::Failed;
    }
}

// One entry of a group: its outcome, and while it is not settled yet, its new bytes waiting
// beside the file.
struct GroupedFile
{
    const JournalEntry *entry = nullptr;
    UndoFile file;
    PendingWrite write;
    QString kept; // what the run wrote, kept by a hard link until the file is back
};

struct UndoContext
{
    FileTree &tree;
    const JournalRun &run;
    bool dryRun = false;
    const std::function<void(const QString &)> &fileInHand;
    QSet<QString> cleanedFolders;
    QSet<QString> keptFolders; // made for what the run wrote
    // In journal order, put in place together after one flush, as a run's group is.
    std::vector<GroupedFile> group;
    qint64 groupBytes = 0;
};

// The checks before a file is put back, and its original written beside it: settled at
// once where it cannot be put back, else pending in the group.
void PrepareEntry(UndoContext &context, const JournalEntry &entry)
{
    FileTree &tree = context.tree;
    const QString &relative = entry.relativePath;
    context.group.emplace_back();
    GroupedFile &grouped = context.group.back();
    grouped.entry = &entry;
    UndoFile &file = grouped.file;
    file.nativePath = NativeSeparators(tree.pathOf(relative));
    const auto settle = [&file](UndoFile::Status status, const QString &reason = QString()) {
        file.status = status;
        file.reason = reason;
    };

    // The journal came with the folder: an entry that leaves it, or leads through a link that
    // may, is nobody's to restore. The tree reaches no entry through a link, so the folders on
    // the way are looked at only for one it does not reach.
    if (!IsValidEntryPath(relative))
        return settle(UndoFile::Refused, reasonEntryInvalid());
    switch (tree.kind(relative)) {
    case FileTree::Kind::Missing:
        return settle(UndoFile::Refused, LeadsThroughLink(tree, relative) ? reasonEntryInvalid()
                                                                          : reasonGoneSinceRun());
    case FileTree::Kind::Link:
        return settle(UndoFile::Refused, reasonEntryInvalid());
    default:
        break;
    }
    QByteArray current;
    FileIdentity identity;
    QString error;
    if (tree.readFile(relative, current, &identity, &error) != FileIoResult::Done)
        return settle(UndoFile::Failed, WithSystemReason(reasonUnreadable(), error));
    if (!Holds(current, entry.writtenSize, entry.writtenHash)) {
        // A run killed before its rename, or an undo done before, left the original.
        if (Holds(current, entry.originalSize, entry.originalHash))
            return settle(UndoFile::AlreadyOriginal);
        return settle(UndoFile::Refused, reasonChangedSinceRun());
    }
    // A hard-linked original shares its bytes with any other name of the old file, which
    // someone may have edited since; the hash tells. A link in its place is not followed.
    QByteArray original;
    if (tree.readFile(context.run.originalRelative(entry), original, nullptr, nullptr) !=
            FileIoResult::Done ||
        !Holds(original, entry.originalSize, entry.originalHash))
        return settle(UndoFile::Refused, reasonOriginalLost());
    if (context.dryRun)
        return settle(UndoFile::Restored);
    if (context.fileInHand)
        context.fileInHand(file.nativePath);
    // As a run replaces it: only the file as read, never one edited meanwhile or read-only.
    QString reason;
    file.status = StatusOf(tree.prepareInPlace(relative, original, identity, grouped.write, &error),
                           error, reason);
    file.reason = reason;
    context.groupBytes += original.size();
}

// Confirms the group's pending files, takes them to the disk with one flush, renames them
// into place and gives them the original's time and mode.
// What the run wrote in the file is kept by a hard link in the run's folder, just before the
// file is put back: freeing it now would cost the undo as much again where the disk discards
// freed blocks, and the run kept its originals the same way. Where there are no hard links it
// is freed as ever.
bool KeepWritten(UndoContext &context, GroupedFile &grouped)
{
    const QString kept = context.run.writtenRelative(grouped.entry->number);
    const QString folder = FolderOf(kept);
    if (!context.keptFolders.contains(folder) &&
        context.tree.makeFolder(folder, FileTree::Access::Private, nullptr))
        context.keptFolders.insert(folder);
    if (context.tree.linkFile(grouped.entry->relativePath, kept, nullptr))
        grouped.kept = kept;
    return true;
}

// A file not put back after all keeps its one name.
void Unkeep(UndoContext &context, GroupedFile &grouped)
{
    if (!grouped.kept.isEmpty())
        context.tree.removeFile(grouped.kept, nullptr);
    grouped.kept.clear();
}

void PutGroupInPlace(UndoContext &context)
{
    FileTree &tree = context.tree;
    QString error;
    bool anyConfirmed = false;
    for (GroupedFile &grouped : context.group) {
        if (!grouped.write.isPending())
            continue;
        QString reason;
        grouped.file.status = StatusOf(
            grouped.write.confirm([&](QString *) { return KeepWritten(context, grouped); }, &error),
            error, reason);
        grouped.file.reason = reason;
        anyConfirmed = anyConfirmed || grouped.write.isPending();
    }
    if (anyConfirmed && !tree.flushWrites(&error)) {
        for (GroupedFile &grouped : context.group) {
            if (!grouped.write.isPending())
                continue;
            grouped.write.drop();
            Unkeep(context, grouped);
            grouped.file.status = UndoFile::Failed;
            grouped.file.reason = WithSystemReason(reasonWriteFailed(), error);
        }
    }
    for (GroupedFile &grouped : context.group) {
        if (!grouped.write.isPending())
            continue;
        QString reason;
        grouped.file.status = StatusOf(grouped.write.commit(&error), error, reason);
        grouped.file.reason = reason;
        if (grouped.file.status != UndoFile::Restored)
            Unkeep(context, grouped);
        if (grouped.file.status != UndoFile::Restored)
            continue;
        // The original's time, and its mode where the journal kept it.
        const JournalEntry &entry = *grouped.entry;
        FileStamp stamp;
        if (tree.readStamp(entry.relativePath, stamp)) {
            stamp.modifiedNs = entry.originalModifiedMs * 1000000;
            if (entry.originalMode >= 0)
                stamp.mode = uint(entry.originalMode);
            if (!tree.setStamp(entry.relativePath, stamp, &error)) {
                grouped.file.status = UndoFile::Failed;
                grouped.file.reason = WithSystemReason(reasonWriteFailed(), error);
                continue;
            }
        }
        RemoveStaleTemporaries(tree, FolderOf(entry.relativePath), context.cleanedFolders);
    }
}

// Files put back in a group, at most this many or bytes, as a run writes them.
constexpr int undoGroupFiles = journalKeptAhead;
constexpr qint64 undoGroupBytes = qint64(256) << 20;

} // namespace

std::optional<JournalRun> FindUndoRun(const QString &sourceDir, const QString &runId,
                                      QString &message)
{
    const FileTree source(sourceDir);
    std::vector<JournalRun> runs = ReadJournal(source);
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        const bool wanted = runId.isEmpty() ? !run->undone : run->id == runId;
        JournalRun withEntries;
        if (wanted && ReadJournalRun(source, run->id, withEntries, true))
            return withEntries;
    }
    message =
        runId.isEmpty()
            ? messageNothingToUndo() +
                  QCoreApplication::translate(
                      "Undo", ": %1 holds no record of a run that saved in the source folder. A "
                              "run that saved "
                              "to another folder changed no original and needs no undo.")
                      .arg(NativeSeparators(sourceDir))
            : QCoreApplication::translate("Undo", "The undo journal has no run %1").arg(runId);
    return std::nullopt;
}

UndoResult UndoRun(const QString &sourceDir, const JournalRun &run, bool dryRun,
                   const std::function<void(const UndoFile &)> &fileDone,
                   const std::atomic_bool *stop,
                   const std::function<void(const QString &)> &fileInHand)
{
    UndoResult result;
    result.runId = run.id;
    FileTree source(sourceDir);
    UndoContext context{source, run, dryRun, fileInHand, {}, {}, {}, 0};
    // A killed undo may have left what the run wrote with a second name.
    if (!dryRun)
        ReleaseInterruptedOriginals(source);
    QSet<int> done = run.restored;
    // The folders of a group's files and of their originals stay open while the group is
    // written, as a run's writer keeps them.
    HeldFolders folders;
    const auto settleGroup = [&] {
        if (!dryRun)
            PutGroupInPlace(context);
        for (const GroupedFile &grouped : context.group) {
            switch (grouped.file.status) {
            case UndoFile::Restored:
                ++result.restored;
                done.insert(grouped.entry->number);
                break;
            case UndoFile::AlreadyOriginal:
                ++result.alreadyOriginal;
                done.insert(grouped.entry->number);
                break;
            case UndoFile::Refused:
            case UndoFile::Failed:
                ++result.notRestored;
                break;
            }
            if (fileDone)
                fileDone(grouped.file);
        }
        context.group.clear();
        context.groupBytes = 0;
        folders.release();
    };
    for (const JournalEntry &entry : run.entries) {
        if (done.contains(entry.number))
            continue; // put back by an undo before
        if (stop && stop->load()) {
            result.stopped = true;
            ++result.left;
            continue;
        }
        PrepareEntry(context, entry);
        if (int(context.group.size()) >= undoGroupFiles || context.groupBytes >= undoGroupBytes)
            settleGroup();
    }
    settleGroup();
    if (!dryRun && done != run.restored)
        RecordRestoredEntries(source, run, done);
    if (!dryRun && !result.stopped && !run.finished)
        RemoveRunTemporaries(source);
    if (!dryRun && !result.stopped && result.notRestored == 0)
        MarkJournalRunUndone(source, run);
    return result;
}

int UndoFilesLeft(const JournalRun &run)
{
    int left = 0;
    for (const JournalEntry &entry : run.entries)
        left += run.restored.contains(entry.number) ? 0 : 1;
    return left;
}

QString UndoSummaryLine(const JournalRun &run, const UndoResult &result, bool dryRun)
{
    return QCoreApplication::translate(
               "Undo", "Undo of %2 at %1: %3 %4 files, %5 already as they were, %6 not restored.")
               .arg(RunTimeText(run), RunDescription(run),
                    dryRun ? QCoreApplication::translate("Undo", "would restore")
                           : QCoreApplication::translate("Undo", "restored"))
               .arg(result.restored)
               .arg(result.alreadyOriginal)
               .arg(result.notRestored) +
           (result.stopped
                ? QCoreApplication::translate("Undo", " (stopped: %1 more files not restored)")
                      .arg(result.left)
                : QString());
}
