#include "engine/journal/Undo.h"

#include "engine/batch/Failure.h"
#include "engine/files/FileIo.h"
#include "engine/files/Paths.h"
#include "engine/journal/ContentHash.h"

#include <QDir>

const QString reasonChangedSinceRun = QStringLiteral("修改后又被改动过,未恢复");
const QString reasonGoneSinceRun = QStringLiteral("文件已不存在,未恢复");
const QString reasonOriginalLost = QStringLiteral("撤销记录中的原文件缺失或已被改动,无法恢复");
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

UndoFile UndoEntry(const QString &sourceDir, const JournalRun &run, const JournalEntry &entry,
                   bool dryRun)
{
    UndoFile file;
    const QString path = JoinPath(QDir::fromNativeSeparators(sourceDir), entry.relativePath);
    file.nativePath = QDir::toNativeSeparators(path);
    const auto result = [&file](UndoFile::Status status, const QString &reason = QString()) {
        file.status = status;
        file.reason = reason;
        return file;
    };

    QByteArray current;
    QString error;
    if (!ReadFileBytes(path, current, &error)) {
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
    // someone may have edited since; the hash tells.
    QByteArray original;
    if (!ReadFileBytes(run.originalPath(entry), original) ||
        !Holds(original, entry.originalSize, entry.originalHash))
        return result(UndoFile::Refused, reasonOriginalLost);
    if (!dryRun && !WriteTextFile(path, original, &error))
        return result(UndoFile::Failed, WithSystemReason(reasonWriteFailed, error));
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
                   const std::atomic_bool *stop)
{
    UndoResult result;
    result.runId = run.id;
    for (const JournalEntry &entry : run.entries) {
        if (stop && stop->load()) {
            result.stopped = true;
            break;
        }
        const UndoFile file = UndoEntry(sourceDir, run, entry, dryRun);
        switch (file.status) {
        case UndoFile::Restored:
            ++result.restored;
            break;
        case UndoFile::AlreadyOriginal:
            ++result.alreadyOriginal;
            break;
        case UndoFile::Refused:
        case UndoFile::Failed:
            ++result.notRestored;
            break;
        }
        if (fileDone)
            fileDone(file);
    }
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
