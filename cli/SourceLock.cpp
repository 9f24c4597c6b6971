#include "cli/SourceLock.h"

#include "cli/Console.h"
#include "cli/RunCommand.h"
#include "engine/journal/TreeLock.h"

#include <QCoreApplication>

int LockSourceTree(const QString &source, bool noWait, Console &console, TreeLock &lock,
                   const std::atomic_bool &interrupted)
{
    QString reason;
    TreeLock::Result result = lock.take(source, false, &reason);
    if (result == TreeLock::Result::Busy) {
        if (noWait) {
            console.printLine(QCoreApplication::translate(
                "main", "Busy: wait until the current operation ends!"));
            return ExitBusy;
        }
        console.printLine(messageWaitingForTree());
        result = lock.take(source, true, &reason);
    }
    if (result == TreeLock::Result::Held)
        return 0;
    if (interrupted)
        return ExitInterrupted;
    console.printLine(QStringLiteral("parafold-cli: ") + reason);
    return ExitFailure;
}
