#include "engine/batch/LaunchChecks.h"

#include "engine/batch/FileMasks.h"

#include <QCoreApplication>

#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"

namespace {

// The texts are English in the code; the user sees them in the language chosen at start.
QString Translated(const char *text)
{
    return QCoreApplication::translate("LaunchChecks", text);
}

} // namespace

QString messageSourceMissing()
{
    return Translated(QT_TRANSLATE_NOOP("LaunchChecks",
                                        "The source folder does not exist; choose a valid path!"));
}
QString messageFolderMissing()
{
    return Translated(
        QT_TRANSLATE_NOOP("LaunchChecks", "The folder does not exist; choose a valid path!"));
}
QString messageSaveMissing()
{
    return Translated(
        QT_TRANSLATE_NOOP("LaunchChecks", "The save folder does not exist; choose a valid path!"));
}
QString messageSameFolder()
{
    return Translated(QT_TRANSLATE_NOOP("LaunchChecks",
                                        "The save folder cannot be the source folder; to overwrite "
                                        "the originals, check Save in the source folder!"));
}
QString messageSaveInsideSource()
{
    return Translated(
        QT_TRANSLATE_NOOP("LaunchChecks", "The save folder cannot lie inside the source folder!"));
}
QString messageSourceReadOnly()
{
    return Translated(QT_TRANSLATE_NOOP("LaunchChecks", "The source folder is not writable"));
}
QString messageSaveReadOnly()
{
    return Translated(QT_TRANSLATE_NOOP("LaunchChecks", "The save folder is not writable"));
}
QString messagePlanMismatch()
{
    return Translated(
        QT_TRANSLATE_NOOP("LaunchChecks", "The preview does not match the chosen folders"));
}
QString messageEmptyFind()
{
    return Translated(QT_TRANSLATE_NOOP("LaunchChecks", "The text to find cannot be empty!"));
}
QString messageEmptyInsert()
{
    return Translated(QT_TRANSLATE_NOOP("LaunchChecks", "The text to insert cannot be empty!"));
}
QString messageCountMismatch()
{
    return Translated(QT_TRANSLATE_NOOP(
        "LaunchChecks", "The numbers of find and replace texts differ; please check them!"));
}
QString messageCountMismatchTitle()
{
    return Translated(QT_TRANSLATE_NOOP("LaunchChecks", "Note:"));
}

namespace {

QString SaveFolderMessage(const BatchSettings &settings)
{
    if (!settings.saveInSource && !FolderExists(settings.saveDir))
        return messageSaveMissing();
    return QString();
}

QString OrderedChecks(Operation operation, const BatchSettings &settings)
{
    switch (operation) {
    case Operation::ReplaceText:
        if (!FolderExists(settings.sourceDir))
            return messageSourceMissing();
        if (QString message = SaveFolderMessage(settings); !message.isEmpty())
            return message;
        if (settings.findText.isEmpty())
            return messageEmptyFind();
        return QString();
    case Operation::ReplacePairs:
        if (QString message = SaveFolderMessage(settings); !message.isEmpty())
            return message;
        if (!FolderExists(settings.sourceDir))
            return messageFolderMissing();
        return QString();
    case Operation::InsertText:
        if (!FolderExists(settings.sourceDir))
            return messageFolderMissing();
        if (QString message = SaveFolderMessage(settings); !message.isEmpty())
            return message;
        // Nothing to insert would still rewrite every file, line ends and all.
        if (settings.insertText.isEmpty())
            return messageEmptyInsert();
        return QString();
    case Operation::ConvertEncoding:
    case Operation::ConvertChinese:
        if (!FolderExists(settings.sourceDir))
            return messageFolderMissing();
        return SaveFolderMessage(settings);
    case Operation::FindText:
        break;
    }
    return FolderExists(settings.sourceDir) ? QString() : messageFolderMissing();
}

} // namespace

QString FolderCheckMessage(Operation operation, const BatchSettings &settings)
{
    const QString message = OrderedChecks(operation, settings);
    if (!message.isEmpty())
        return message;
    QString badMask;
    if (!FileMasks().parse(settings.fileMasks, &badMask))
        return messageBadFileMask() + badMask;
    if (operation == Operation::FindText)
        return QString();
    // Otherwise every file would fail, one by one, after the scan.
    if (settings.saveInSource)
        return FolderWritable(settings.sourceDir) ? QString() : messageSourceReadOnly();
    if (SameFolder(settings.sourceDir, settings.saveDir))
        return messageSameFolder();
    // The edited copies would land in the source tree, and the next run would edit them again.
    if (FolderInside(settings.saveDir, settings.sourceDir))
        return messageSaveInsideSource();
    return FolderWritable(settings.saveDir) ? QString() : messageSaveReadOnly();
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
    for (const QString &path :
         {settings.reportUnreadablePath, settings.reportMatchedPath, settings.reportUnmatchedPath,
          JoinPath(settings.sourceDir, reportRuleHitsName)}) {
        if (!IsFolder(path) && FileExists(path))
            RemoveFile(path);
    }
}
