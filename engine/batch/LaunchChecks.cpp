#include "engine/batch/LaunchChecks.h"

#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"

const QString messageSourceMissing = QStringLiteral("源文件夹不存在,请选择正确路径!");
const QString messageFolderMissing = QStringLiteral("文件夹不存在,请选择正确路径!");
const QString messageSaveMissing = QStringLiteral("保存文件夹不存在,请选择正确路径!");
const QString messageSameFolder =
    QStringLiteral("保存文件夹不能与源文件夹相同,如需覆盖原文件请勾选保存在原文件夹!");
const QString messageSaveInsideSource = QStringLiteral("保存文件夹不能位于源文件夹之内!");
const QString messageEmptyFind = QStringLiteral("查找内容不能为空!");
const QString messageEmptyInsert = QStringLiteral("插入内容不能为空!");
const QString messageCountMismatch = QStringLiteral("查找数和替换数不一致,请核对!");
const QString messageCountMismatchTitle = QStringLiteral("注意：");

namespace {

QString SaveFolderMessage(const BatchSettings &settings)
{
    if (!settings.saveInSource && !FolderExists(settings.saveDir))
        return messageSaveMissing;
    return QString();
}

QString OrderedChecks(Operation operation, const BatchSettings &settings)
{
    switch (operation) {
    case Operation::ReplaceText:
        if (!FolderExists(settings.sourceDir))
            return messageSourceMissing;
        if (QString message = SaveFolderMessage(settings); !message.isEmpty())
            return message;
        if (settings.findText.isEmpty())
            return messageEmptyFind;
        return QString();
    case Operation::ReplacePairs:
        if (QString message = SaveFolderMessage(settings); !message.isEmpty())
            return message;
        if (!FolderExists(settings.sourceDir))
            return messageFolderMissing;
        return QString();
    case Operation::InsertText:
        if (!FolderExists(settings.sourceDir))
            return messageFolderMissing;
        if (QString message = SaveFolderMessage(settings); !message.isEmpty())
            return message;
        // Nothing to insert would still rewrite every file, line ends and all.
        if (settings.insertText.isEmpty())
            return messageEmptyInsert;
        return QString();
    case Operation::ConvertEncoding:
        if (!FolderExists(settings.sourceDir))
            return messageFolderMissing;
        return SaveFolderMessage(settings);
    case Operation::FindText:
        break;
    }
    return FolderExists(settings.sourceDir) ? QString() : messageFolderMissing;
}

} // namespace

QString FolderCheckMessage(Operation operation, const BatchSettings &settings)
{
    const QString message = OrderedChecks(operation, settings);
    if (!message.isEmpty())
        return message;
    if (operation == Operation::FindText || settings.saveInSource)
        return QString();
    if (SameFolder(settings.sourceDir, settings.saveDir))
        return messageSameFolder;
    // The edited copies would land in the source tree, and the next run would edit them again.
    if (FolderInside(settings.saveDir, settings.sourceDir))
        return messageSaveInsideSource;
    return QString();
}

bool LacksItsText(Operation operation, const BatchSettings &settings)
{
    return (operation == Operation::ReplaceText && settings.findText.isEmpty()) ||
           (operation == Operation::InsertText && settings.insertText.isEmpty());
}

void DeleteStaleReports(const BatchSettings &settings)
{
    // Without a source folder the report paths are bare names in the working folder.
    if (settings.sourceDir.isEmpty())
        return;
    for (const QString &path : {settings.reportUnreadablePath, settings.reportMatchedPath,
                                settings.reportUnmatchedPath}) {
        if (!IsFolder(path) && FileExists(path))
            RemoveFile(path);
    }
}
