#include "engine/journal/TreeLock.h"

#include "engine/files/FileNames.h"
#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"
#include "engine/journal/Journal.h"
#include "platform/FileLinks.h"

#include <QCoreApplication>

const QString treeLockName = QStringLiteral("lock");

QString messageWaitingForTree()
{
    return QCoreApplication::translate("TreeLock",
                                       "Waiting for another operation on this folder to end…");
}

TreeLock::Result TreeLock::take(const QString &sourceDir, bool wait, QString *reason)
{
    lock.release();
    // Nothing that this user runs can write in a tree closed to them (a save-folder run only
    // reads it), so there is nothing to keep apart, and no place for the lock.
    if (!FolderWritable(sourceDir))
        return Result::Held;
    FileTree source(sourceDir);
    QString error;
    Result result = Result::Refused;
    const QString relative = JournalRelative(treeLockName);
    if (!source.isOpen()) {
        error = source.error();
    } else if (source.makeFolder(journalFolderName, FileTree::Access::Private, &error)) {
        platform::HideFile(ToNativePath(source.pathOf(journalFolderName)));
        result = source.lockFile(relative, wait, lock, &error);
    }
    if (result == Result::Refused && reason)
        *reason = QCoreApplication::translate("TreeLock", "cannot lock the folder with %1: %2")
                      .arg(NativeSeparators(source.pathOf(relative)), error);
    return result;
}
