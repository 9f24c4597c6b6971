#include "HandleTextFile.h"

#include "DecodeTextFile.h"
#include "EncodeText.h"
#include "FailureReasons.h"
#include "MakeFolderPath.h"
#include "ReadFileBytes.h"
#include "ScannedFileSet.h"
#include "TargetPath.h"
#include "WriteTextFile.h"

#include <QDir>
#include <QFileInfo>

namespace {

FileOutcome Failed(const QString &reason, qint64 bytes)
{
    return {FileOutcome::Failed, reason, bytes};
}

// A decision with nothing left to write.
FileDecision Settled(FileOutcome::Kind kind, qint64 bytes, const QString &reason = QString())
{
    FileDecision decision;
    decision.outcome = {kind, reason, bytes};
    return decision;
}

QString FolderOf(const QString &nativePath)
{
    return QFileInfo(QDir::fromNativeSeparators(nativePath)).path();
}

} // namespace

FileDecision DecideTextFile(const FileTask &task, const FileRule &rule)
{
    QByteArray bytes;
    if (!ReadFileBytes(task.sourcePath, bytes))
        return Settled(FileOutcome::Failed, 0, reasonUnreadable);
    const qint64 size = bytes.size();
    const TextEncoding encoding = DecideEncoding(bytes, task.detectUtf16);
    if (const std::optional<bool> changes = rule.decideFromBytes(bytes, encoding)) {
        // Only a search can be settled as a match from bytes; an edit needs its text.
        Q_ASSERT(!*changes || !task.writes);
        return Settled(*changes ? FileOutcome::Changed : FileOutcome::Unchanged, size);
    }

    DecodedText decoded = DecodeBytes(bytes, encoding, task.writes);
    bytes = QByteArray();
    NormaliseLineEnds(decoded.text);
    if (!rule.apply(decoded.text))
        return Settled(FileOutcome::Unchanged, size);
    if (!task.writes)
        return Settled(FileOutcome::Changed, size);
    if (!decoded.lossless)
        return Settled(FileOutcome::Failed, size, reasonNotLossless);
    std::optional<QByteArray> encoded = EncodeText(decoded.text, decoded.encoding, task.withBom);
    if (!encoded)
        return Settled(FileOutcome::Failed, size, reasonUnrepresentable);
    FileDecision decision = Settled(FileOutcome::Changed, size);
    decision.toWrite = true;
    decision.newBytes = std::move(*encoded);
    return decision;
}

FileOutcome FinishTextFile(FileDecision decision, const WriteTarget &target)
{
    const FileOutcome &outcome = decision.outcome;
    if (!decision.toWrite || target.dryRun)
        return outcome;
    if (!target.saveInSource && IsSameFile(target.targetPath, target.sourcePath))
        return Failed(reasonTargetIsSource, outcome.bytes);
    if (!target.saveInSource && target.sourceFiles &&
        target.sourceFiles->contains(target.targetPath))
        return Failed(reasonTargetIsOtherSource, outcome.bytes);
    if (!MakeFolderPath(FolderOf(target.targetPath)))
        return Failed(reasonFolderFailed, outcome.bytes);
    if (!WriteTextFile(target.targetPath, decision.newBytes))
        return Failed(reasonWriteFailed, outcome.bytes);
    return outcome;
}
