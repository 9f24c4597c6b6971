#include "cli/UndoCommand.h"

#include "cli/Console.h"
#include "cli/RunCommand.h"
#include "cli/SourceLock.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/files/Paths.h"
#include "engine/journal/Journal.h"
#include "engine/journal/RunDescription.h"
#include "engine/journal/TreeLock.h"
#include "engine/journal/Undo.h"

#include <QCoreApplication>
#include <algorithm>

namespace {

QString Megabytes(qint64 bytes)
{
    return QString::number(bytes / 1048576.0, 'f', 1) + QStringLiteral(" MB");
}

int ListRuns(const QString &source, Console &console)
{
    const std::vector<JournalRun> runs = ReadJournal(source);
    int idWidth = 0;
    for (const JournalRun &run : runs)
        idWidth = std::max(idWidth, int(run.id.size()));
    qint64 total = 0;
    QString text;
    for (const JournalRun &run : runs) {
        total += run.originalBytes;
        QString state;
        if (run.undone)
            state = QCoreApplication::translate("UndoCommand", "  undone");
        else if (!run.finished)
            state = QCoreApplication::translate("UndoCommand", "  interrupted");
        // The description comes last: its width on a terminal is not its length.
        text += QCoreApplication::translate("UndoCommand", "%1  %2  %3 files  %4%5  %6\n")
                    .arg(run.id.leftJustified(idWidth), JournalTimeText(run.startedMs))
                    .arg(run.files, 6)
                    .arg(Megabytes(run.originalBytes).rightJustified(10), state.leftJustified(13),
                         RunDescription(run));
    }
    console.printOut(text);
    console.printLine(QCoreApplication::translate(
                          "UndoCommand", "%1 run(s), %2 kept; the journal keeps the last %3 runs "
                                         "while they stay within %4 MB")
                          .arg(runs.size())
                          .arg(Megabytes(total))
                          .arg(journalKeptRuns)
                          .arg(journalLimitMegabytes));
    return runs.empty() ? ExitNoneFound : ExitFound;
}

} // namespace

int UndoCommand(const CommandRequest &request, Console &console, const std::atomic_bool &stop,
                const std::atomic_bool &interrupted)
{
    const QString source = AbsoluteFolder(request.source);
    if (!FolderExists(source)) {
        console.printLine(messageSourceMissing());
        return ExitFailure;
    }
    if (request.list)
        return ListRuns(source, console);

    QString message;
    const std::optional<JournalRun> run = FindUndoRun(source, request.runId, message);
    if (!run) {
        console.printLine(message);
        return request.runId.isEmpty() ? ExitNoneFound : ExitFailure;
    }
    TreeLock treeLock;
    if (!request.dryRun) {
        if (const int status =
                LockSourceTree(source, request.noWait, console, treeLock, interrupted))
            return status;
    }
    const UndoResult result = UndoRun(
        source, *run, request.dryRun,
        [&](const UndoFile &file) {
            if (file.status == UndoFile::Restored)
                console.writeFound(file.nativePath);
            else if (file.status != UndoFile::AlreadyOriginal)
                console.printLine(file.nativePath + QStringLiteral(": ") + file.reason);
            console.flushFoundIfDue();
        },
        &stop);
    console.flushFound();

    if (!request.quiet)
        console.printLine(UndoSummaryLine(*run, result, request.dryRun));
    if (result.stopped && interrupted) {
        console.printLine(QStringLiteral(
            "parafold-cli: interrupted; the files after the one in hand were not restored"));
        return ExitInterrupted;
    }
    return result.notRestored > 0 ? ExitFailure : ExitFound;
}
