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

// Temporary files of writers that are gone, in a folder a file was restored to, go as a run
// lets them go; each folder is looked at once.
void RemoveStaleTemporaries(const FileTree &tree, const QString &folder, QSet<QString> &cleaned)
{
    if (cleaned.contains(folder))
        return;
    cleaned.insert(folder);
    for (const FolderEntry &entry : tree.list(folder, nullptr)) {
        if (entry.kind == FolderEntry::File && entry.name.startsWith(QLatin1String(".parafold-")))
            RemoveStaleTemporary(tree.pathOf(
                folder.isEmpty() ? entry.name : folder + QLatin1Char('/') + entry.name));
    }
}

struct UndoContext
{
    FileTree &tree;
    const JournalRun &run;
    bool dryRun = false;
    const std::function<void(const QString &)> &fileInHand;
    QSet<QString> cleanedFolders;
};

UndoFile UndoEntry(UndoContext &context, const JournalEntry &entry)
{
    FileTree &tree = context.tree;
    const QString &relative = entry.relativePath;
    UndoFile file;
    file.nativePath = NativeSeparators(tree.pathOf(relative));
    const auto result = [&file](UndoFile::Status status, const QString &reason = QString()) {
        file.status = status;
        file.reason = reason;
        return file;
    };

    // The journal came with the folder: an entry that leaves it, or leads through a link that
    // may, is nobody's to restore.
    if (!IsValidEntryPath(relative) || LeadsThroughLink(tree, relative))
        return result(UndoFile::Refused, reasonEntryInvalid());
    switch (tree.kind(relative)) {
    case FileTree::Kind::Missing:
        return result(UndoFile::Refused, reasonGoneSinceRun());
    case FileTree::Kind::Link:
        return result(UndoFile::Refused, reasonEntryInvalid());
    default:
        break;
    }
    QByteArray current;
    FileIdentity identity;
    QString error;
    if (tree.readFile(relative, current, &identity, &error) != FileIoResult::Done)
        return result(UndoFile::Failed, WithSystemReason(reasonUnreadable(), error));
    if (!Holds(current, entry.writtenSize, entry.writtenHash)) {
        // A run killed before its rename, or an undo done before, left the original.
        if (Holds(current, entry.originalSize, entry.originalHash))
            return result(UndoFile::AlreadyOriginal);
        return result(UndoFile::Refused, reasonChangedSinceRun());
    }
    // A hard-linked original shares its bytes with any other name of the old file, which
    // someone may have edited since; the hash tells. A link in its place is not followed.
    QByteArray original;
    if (tree.readFile(context.run.originalRelative(entry), original, nullptr, nullptr) !=
            FileIoResult::Done ||
        !Holds(original, entry.originalSize, entry.originalHash))
        return result(UndoFile::Refused, reasonOriginalLost());
    if (context.dryRun)
        return result(UndoFile::Restored);
    if (context.fileInHand)
        context.fileInHand(file.nativePath);
    // As a run replaces it: only the file as read, never one edited meanwhile or read-only.
    // Undo is rare: each file reaches the disk before it is renamed.
    switch (tree.replaceInPlace(relative, original, identity, nullptr, &error, true)) {
    case FileIoResult::Done:
        break;
    case FileIoResult::Changed:
        return result(UndoFile::Refused, reasonChangedDuringRun());
    case FileIoResult::ReadOnly:
        return result(UndoFile::Refused, reasonReadOnly());
    case FileIoResult::HardLinked:
        return result(UndoFile::Refused, reasonChangedSinceRun());
    default:
        return result(UndoFile::Failed, WithSystemReason(reasonWriteFailed(), error));
    }
    // The original's time, and its mode where the journal kept it.
    FileStamp stamp;
    if (tree.readStamp(relative, stamp)) {
        stamp.modifiedNs = entry.originalModifiedMs * 1000000;
        if (entry.originalMode >= 0)
            stamp.mode = uint(entry.originalMode);
        if (!tree.setStamp(relative, stamp, &error))
            return result(UndoFile::Failed, WithSystemReason(reasonWriteFailed(), error));
    }
    RemoveStaleTemporaries(tree, FolderOf(relative), context.cleanedFolders);
    return result(UndoFile::Restored);
}

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
    UndoContext context{source, run, dryRun, fileInHand, {}};
    QSet<int> done = run.restored;
    for (const JournalEntry &entry : run.entries) {
        if (done.contains(entry.number))
            continue; // put back by an undo before
        if (stop && stop->load()) {
            result.stopped = true;
            break;
        }
        const UndoFile file = UndoEntry(context, entry);
        switch (file.status) {
        case UndoFile::Restored:
            ++result.restored;
            done.insert(entry.number);
            break;
        case UndoFile::AlreadyOriginal:
            ++result.alreadyOriginal;
            done.insert(entry.number);
            break;
        case UndoFile::Refused:
        case UndoFile::Failed:
            ++result.notRestored;
            break;
        }
        if (fileDone)
            fileDone(file);
    }
    if (!dryRun && done != run.restored)
        RecordRestoredEntries(source, run, done);
    if (!dryRun && !result.stopped && result.notRestored == 0)
        MarkJournalRunUndone(source, run);
    return result;
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
        .arg(result.notRestored);
}
