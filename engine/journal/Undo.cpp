#include "engine/journal/Undo.h"

#include "engine/batch/Failure.h"
#include "engine/files/FileIo.h"
#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"
#include "engine/journal/ContentHash.h"

#include <QDir>
#include <limits>

const QString reasonChangedSinceRun = QStringLiteral("修改后又被改动过,未恢复");
const QString reasonGoneSinceRun = QStringLiteral("文件已不存在,未恢复");
const QString reasonOriginalLost = QStringLiteral("撤销记录中的原文件缺失或已被改动,无法恢复");
const QString reasonEntryInvalid = QStringLiteral("撤销记录无效,未恢复");
const QString messageNothingToUndo = QStringLiteral("没有可撤销的修改");

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

QString FolderOf(const QString &path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')));
}

bool IsLink(const QString &path)
{
    return !SymLinkTarget(path).isEmpty();
}

// True when a folder on the way from the top to the entry is a link: it may lead anywhere.
bool LeadsThroughLink(const QString &top, const QString &relativePath)
{
    const QStringList parts = relativePath.split(QLatin1Char('/'));
    QString path = top;
    for (int i = 0; i + 1 < parts.size(); ++i) {
        path = JoinPath(path, parts[i]);
        if (IsLink(path))
            return true;
    }
    return false;
}

FileIoResult ReadWhole(const QString &path, QByteArray &bytes, FileIdentity *identity,
                       QString *error)
{
    SourceRead how;
    how.sizeLimit = std::numeric_limits<qint64>::max();
    return ReadSourceFile(path, how, bytes, identity, error);
}

// Temporary files of writers that are gone, in a folder a file was restored to, go as a run
// lets them go; each folder is looked at once.
void RemoveStaleTemporaries(const QString &folder, QSet<QString> &cleaned)
{
    if (cleaned.contains(folder))
        return;
    cleaned.insert(folder);
    FolderReader reader(folder);
    for (const FolderEntry &entry : reader.entries()) {
        if (entry.kind == FolderEntry::File && entry.name.startsWith(QLatin1String(".parafold-")))
            RemoveStaleTemporary(JoinPath(folder, entry.name));
    }
}

struct UndoContext
{
    QString top;
    const JournalRun &run;
    bool dryRun = false;
    const std::function<void(const QString &)> &fileInHand;
    QSet<QString> cleanedFolders;
};

UndoFile UndoEntry(UndoContext &context, const JournalEntry &entry)
{
    UndoFile file;
    const QString path = JoinPath(context.top, entry.relativePath);
    file.nativePath = QDir::toNativeSeparators(path);
    const auto result = [&file](UndoFile::Status status, const QString &reason = QString()) {
        file.status = status;
        file.reason = reason;
        return file;
    };

    // The journal came with the folder: an entry that leaves it is nobody's to restore.
    if (!IsValidEntryPath(entry.relativePath) || LeadsThroughLink(context.top, entry.relativePath))
        return result(UndoFile::Refused, reasonEntryInvalid);
    QByteArray current;
    FileIdentity identity;
    QString error;
    if (ReadWhole(path, current, &identity, &error) != FileIoResult::Done) {
        if (IsLink(path))
            return result(UndoFile::Refused, reasonEntryInvalid);
        if (!FileExists(path))
            return result(UndoFile::Refused, reasonGoneSinceRun);
        return result(UndoFile::Failed, WithSystemReason(reasonUnreadable, error));
    }
    if (!Holds(current, entry.writtenSize, entry.writtenHash)) {
        // A run killed before its rename, or an undo done before, left the original.
        if (Holds(current, entry.originalSize, entry.originalHash))
            return result(UndoFile::AlreadyOriginal);
        return result(UndoFile::Refused, reasonChangedSinceRun);
    }
    // A hard-linked original shares its bytes with any other name of the old file, which
    // someone may have edited since; the hash tells. A link in its place is not followed.
    const QString originalPath = context.run.originalPath(entry);
    QByteArray original;
    if (IsLink(FolderOf(originalPath)) ||
        ReadWhole(originalPath, original, nullptr, nullptr) != FileIoResult::Done ||
        !Holds(original, entry.originalSize, entry.originalHash))
        return result(UndoFile::Refused, reasonOriginalLost);
    if (context.dryRun)
        return result(UndoFile::Restored);
    if (context.fileInHand)
        context.fileInHand(file.nativePath);
    switch (ReplaceInPlace(path, original, identity, nullptr, &error)) {
    case FileIoResult::Done:
        break;
    case FileIoResult::Changed:
        return result(UndoFile::Refused, reasonChangedDuringRun);
    case FileIoResult::ReadOnly:
        return result(UndoFile::Refused, reasonReadOnly);
    default:
        return result(UndoFile::Failed, WithSystemReason(reasonWriteFailed, error));
    }
    RemoveStaleTemporaries(FolderOf(path), context.cleanedFolders);
    return result(UndoFile::Restored);
}

} // namespace

std::optional<JournalRun> FindUndoRun(const QString &sourceDir, const QString &runId,
                                      QString &message)
{
    std::vector<JournalRun> runs = ReadJournal(sourceDir);
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        const bool wanted = runId.isEmpty() ? !run->undone : run->id == runId;
        JournalRun withEntries;
        if (wanted && ReadJournalRun(run->folder, withEntries, true))
            return withEntries;
    }
    message = runId.isEmpty() ? messageNothingToUndo
                              : QStringLiteral("撤销记录中没有修改记录 %1").arg(runId);
    return std::nullopt;
}

UndoResult UndoRun(const QString &sourceDir, const JournalRun &run, bool dryRun,
                   const std::function<void(const UndoFile &)> &fileDone,
                   const std::atomic_bool *stop,
                   const std::function<void(const QString &)> &fileInHand)
{
    UndoResult result;
    result.runId = run.id;
    UndoContext context{QDir::fromNativeSeparators(sourceDir), run, dryRun, fileInHand, {}};
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
        RecordRestoredEntries(run, done);
    if (!dryRun && !result.stopped && result.notRestored == 0)
        MarkJournalRunUndone(run);
    return result;
}

QString UndoSummaryLine(const JournalRun &run, const UndoResult &result, bool dryRun)
{
    return QStringLiteral("撤销%1的修改(%2):%3文件%4个,已是原样%5个,未恢复%6个。")
        .arg(JournalTimeText(run.startedMs), run.operation,
             dryRun ? QStringLiteral("将恢复") : QStringLiteral("恢复"))
        .arg(result.restored)
        .arg(result.alreadyOriginal)
        .arg(result.notRestored);
}
