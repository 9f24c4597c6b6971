#include "HandleTextFile.h"

#include "DecodeTextFile.h"
#include "EncodeText.h"
#include "FailureReasons.h"
#include "MakeFolderPath.h"
#include "TargetPath.h"
#include "WriteTextFile.h"

#include <QDir>
#include <QFileInfo>

namespace {

FileOutcome Failed(const QString &reason, qint64 bytes)
{
    return {FileOutcome::Failed, reason, bytes};
}

QString FolderOf(const QString &nativePath)
{
    return QFileInfo(QDir::fromNativeSeparators(nativePath)).path();
}

} // namespace

FileOutcome HandleTextFile(const FileTask &task, const FileHook &hook)
{
    const bool writes = !task.targetPath.isEmpty();
    std::optional<DecodedText> decoded = DecodeTextFile(task.sourcePath, task.detectUtf16, writes);
    if (!decoded)
        return Failed(reasonUnreadable, 0);
    const qint64 size = decoded->fileSize;

    if (!hook(decoded->text))
        return {FileOutcome::Unchanged, QString(), size};
    if (!writes)
        return {FileOutcome::Changed, QString(), size};
    if (!decoded->lossless)
        return Failed(reasonNotLossless, size);
    const std::optional<QByteArray> encoded =
        EncodeText(decoded->text, decoded->encoding, task.withBom);
    if (!encoded)
        return Failed(reasonUnrepresentable, size);
    decoded->text = QString();
    if (task.dryRun)
        return {FileOutcome::Changed, QString(), size};

    if (!task.saveInSource && IsSameFile(task.targetPath, task.sourcePath))
        return Failed(reasonTargetIsSource, size);
    if (!MakeFolderPath(FolderOf(task.targetPath)))
        return Failed(reasonFolderFailed, size);
    if (!WriteTextFile(task.targetPath, *encoded))
        return Failed(reasonWriteFailed, size);
    return {FileOutcome::Changed, QString(), size};
}
