#include "engine/run/TextFile.h"

#include "engine/codec/TextCodec.h"
#include "engine/files/FileIo.h"
#include "engine/files/Paths.h"
#include "engine/journal/ContentHash.h"
#include "engine/scan/ScannedFileSet.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace {

FileOutcome Failed(FailureKind kind, qint64 bytes, const QString &systemReason = QString())
{
    return {FileOutcome::Failed, {kind, systemReason}, bytes};
}

// A decision with nothing left to write.
FileDecision Settled(FileOutcome::Kind kind, qint64 bytes)
{
    FileDecision decision;
    decision.outcome = {kind, {}, bytes};
    return decision;
}

FileDecision SettledFailed(FailureKind kind, qint64 bytes, const QString &systemReason = QString())
{
    FileDecision decision;
    decision.outcome = Failed(kind, bytes, systemReason);
    return decision;
}

QString FolderOf(const QString &nativePath)
{
    const QString path = FromNativeSeparators(nativePath);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral(".") : path.left(slash == 0 ? 1 : slash);
}

quint64 OriginalHash(const FileTask &task, const QByteArray &bytes)
{
    return task.journaled && task.writes ? ContentHash(bytes) : 0;
}

// A changed file with its new bytes, hashed for the run's journal when it keeps one.
FileDecision ToWrite(const FileTask &task, qint64 size, quint64 originalHash, QByteArray newBytes)
{
    FileDecision decision = Settled(FileOutcome::Changed, size);
    decision.toWrite = true;
    decision.newBytes = std::move(newBytes);
    if (task.journaled)
        decision.replaced = {originalHash, decision.newBytes.size(),
                             ContentHash(decision.newBytes)};
    return decision;
}

const qint64 editLimit = qint64(256) << 20;
const qint64 searchLimit = qint64(512) << 20;

FileDecision Decide(const FileTask &task, const FileRule &rule, const ReserveMemory &reserve,
                    FileIdentity &identity)
{
    QByteArray bytes;
    QString error;
    SourceRead how;
    how.sizeLimit = FileSizeLimit(task.writes);
    if (reserve)
        how.beforeAllocating = [&](qint64 size) { reserve(DecisionMemory(size, task.writes)); };
    const FileIoResult read =
        task.sourceTree
            ? task.sourceTree->readFile(task.relativePath, how, bytes, &identity, &error)
            : ReadSourceFile(task.sourcePath, how, bytes, &identity, &error);
    switch (read) {
    case FileIoResult::Done:
        break;
    case FileIoResult::TooLarge:
        return SettledFailed(FailureKind::TooLarge, identity.size);
    case FileIoResult::Changed:
        return SettledFailed(FailureKind::ChangedDuringRun, identity.size);
    default:
        return SettledFailed(FailureKind::Unreadable, 0, error);
    }
    const qint64 size = bytes.size();
    const TextEncoding encoding = DecideEncoding(bytes, task.detectUtf16);
    if (const std::optional<bool> changes = rule.decideFromBytes(bytes, encoding)) {
        // Only a search can be settled as a match from bytes; an edit needs its text.
        Q_ASSERT(!*changes || !task.writes);
        return Settled(*changes ? FileOutcome::Changed : FileOutcome::Unchanged, size);
    }
    if (task.writes) {
        QByteArray newBytes;
        switch (rule.editBytes(bytes, encoding, task.withBom, newBytes)) {
        case ByteEdit::Outcome::Unchanged:
            return Settled(FileOutcome::Unchanged, size);
        case ByteEdit::Outcome::Changed:
            return ToWrite(task, size, OriginalHash(task, bytes), std::move(newBytes));
        case ByteEdit::Outcome::Unknown:
            break;
        }
    }

    // UTF-16 without its mark passes for UTF-8, and an edit would break every character.
    const bool notText = task.writes && encoding != TextEncoding::Utf16Le &&
                         encoding != TextEncoding::Utf16Be && bytes.contains('\0');
    DecodedText decoded = DecodeBytes(bytes, encoding, task.writes);
    NormaliseLineEnds(decoded.text);
    if (!rule.apply(decoded.text))
        return Settled(FileOutcome::Unchanged, size);
    const quint64 originalHash = OriginalHash(task, bytes);
    bytes = QByteArray();
    if (!task.writes)
        return Settled(FileOutcome::Changed, size);
    if (notText)
        return SettledFailed(FailureKind::NotText, size);
    if (!decoded.lossless)
        return SettledFailed(FailureKind::NotLossless, size);
    std::optional<QByteArray> encoded = EncodeText(decoded.text, decoded.encoding, task.withBom);
    if (!encoded)
        return SettledFailed(FailureKind::Unrepresentable, size);
    return ToWrite(task, size, originalHash, std::move(*encoded));
}

} // namespace

qint64 FileSizeLimit(bool writes)
{
    return writes ? editLimit : searchLimit;
}

qint64 DecisionMemory(qint64 size, bool writes)
{
    return size * (writes ? 6 : 3);
}

FileDecision DecideTextFile(const FileTask &task, const FileRule &rule,
                            const ReserveMemory &reserve)
{
    FileIdentity identity;
    try {
        FileDecision decision = Decide(task, rule, reserve, identity);
        if (decision.toWrite)
            decision.source = identity;
        return decision;
    } catch (const std::bad_alloc &) {
        // A replacement can grow a text past what memory or a Qt string holds.
        return SettledFailed(FailureKind::TooLarge, std::max<qint64>(identity.size, 0),
                             QString::fromLocal8Bit(std::strerror(ENOMEM)));
    }
}

FileOutcome FinishTextFile(FileDecision decision, const WriteTarget &target)
{
    const FileOutcome &outcome = decision.outcome;
    if (!decision.toWrite || target.dryRun)
        return outcome;
    if (!target.saveInSource && IsSameFile(target.targetPath, target.sourcePath))
        return Failed(FailureKind::TargetIsSource, outcome.bytes);
    if (!target.saveInSource && target.sourceFiles &&
        target.sourceFiles->contains(target.targetPath))
        return Failed(FailureKind::TargetIsOtherSource, outcome.bytes);
    QString error;
    if (target.saveInSource) {
        // The original is kept for undo only once it is known to be the file that was read.
        const auto keepOriginal = [&](QString *why) {
            return !target.journal ||
                   target.journal->keepOriginal(target.targetPath, target.relativePath,
                                                decision.replaced, why);
        };
        const FileIoResult replaced =
            target.tree ? target.tree->replaceInPlace(target.relativePath, decision.newBytes,
                                                      decision.source, keepOriginal, &error)
                        : ReplaceInPlace(target.sourcePath, decision.newBytes, decision.source,
                                         keepOriginal, &error);
        switch (replaced) {
        case FileIoResult::Done:
            return outcome;
        case FileIoResult::Changed:
            return Failed(FailureKind::ChangedDuringRun, outcome.bytes);
        case FileIoResult::ReadOnly:
            return Failed(FailureKind::ReadOnly, outcome.bytes);
        case FileIoResult::HardLinked:
            return Failed(FailureKind::HardLinked, outcome.bytes);
        case FileIoResult::Refused:
            return Failed(FailureKind::JournalFailed, outcome.bytes, error);
        default:
            return Failed(FailureKind::WriteFailed, outcome.bytes, error);
        }
    }
    if (target.tree) {
        const int slash = target.relativePath.lastIndexOf(QLatin1Char('/'));
        if (slash > 0 && !target.tree->makeFolder(target.relativePath.left(slash),
                                                  FileTree::Access::Shared, &error))
            return Failed(FailureKind::FolderFailed, outcome.bytes, error);
        if (!target.tree->replaceFile(target.relativePath, decision.newBytes, &error))
            return Failed(FailureKind::WriteFailed, outcome.bytes, error);
        return outcome;
    }
    if (!MakeFolderPath(FolderOf(target.targetPath), &error))
        return Failed(FailureKind::FolderFailed, outcome.bytes, error);
    if (!WriteTextFile(target.targetPath, decision.newBytes, &error))
        return Failed(FailureKind::WriteFailed, outcome.bytes, error);
    return outcome;
}
