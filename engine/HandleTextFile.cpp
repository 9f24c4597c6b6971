#include "HandleTextFile.h"

#include "DecodeTextFile.h"
#include "EncodeText.h"
#include "FailureReasons.h"
#include "MakeFolderPath.h"
#include "ReadFileBytes.h"
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
    QByteArray bytes;
    if (!ReadFileBytes(task.sourcePath, bytes))
        return Failed(reasonUnreadable, 0);
    const qint64 size = bytes.size();
    const bool writes = !task.targetPath.isEmpty();
    DecodedText decoded = DecodeBytes(bytes, DecideEncoding(bytes, task.detectUtf16), writes);
    bytes = QByteArray();
    NormaliseLineEnds(decoded.text);

    if (!hook(decoded.text))
        return {FileOutcome::Unchanged, QString(), size};
    if (!writes)
        return {FileOutcome::Changed, QString(), size};
    if (!decoded.lossless)
        return Failed(reasonNotLossless, size);
    const std::optional<QByteArray> encoded =
        EncodeText(decoded.text, decoded.encoding, task.withBom);
    if (!encoded)
        return Failed(reasonUnrepresentable, size);
    decoded.text = QString();
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
