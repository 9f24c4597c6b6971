#include "cli/RunCommand.h"

#include "cli/Console.h"
#include "cli/InputFiles.h"
#include "cli/PlanCommand.h"
#include "cli/ProgressBar.h"
#include "cli/SourceLock.h"
#include "engine/batch/BatchSettings.h"
#include "engine/batch/FileMasks.h"
#include "engine/batch/LaunchChecks.h"
#include "engine/files/Paths.h"
#include "engine/files/SettingsFiles.h"
#include "engine/journal/TreeLock.h"
#include "engine/operations/RuleTable.h"
#include "engine/report/Reports.h"
#include "engine/run/RunBatch.h"

#include <QCoreApplication>
#include <cstring>

QString AbsoluteFolder(const QString &path)
{
    if (path.isEmpty())
        return path;
    QString folder = AbsoluteCleanPath(path);
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

namespace {

// The pairs from a rule table; a table with a line in error is refused whole, since running
// the rest would leave out a rule the user counts on.
bool ReadRules(const QString &path, BatchSettings &settings, QString &message,
               QStringList *warnings, const std::atomic_bool *stop)
{
    RuleTable table;
    if (!ReadRuleTable(path, table, message))
        return false;
    if (!table.errors.empty()) {
        QStringList lines;
        for (const RuleTableError &error : table.errors)
            lines << path + QStringLiteral(": ") + error.message;
        message = lines.join(QLatin1String("\nparafold-cli: "));
        return false;
    }
    EnabledPairs(table.rules, settings.findLines, settings.replaceLines);
    if (warnings) {
        // More than a reader goes through are counted, not named.
        constexpr size_t named = 1000;
        const RuleChains found = FindRuleChains(table.rules, stop, named);
        if (found.stopped)
            return false;
        for (const RuleChain &chain : found.chains)
            *warnings << QCoreApplication::translate("RunCommand", "parafold-cli: warning: %1")
                             .arg(DescribeChain(table.rules, chain));
        if (found.total > qint64(named))
            *warnings << QCoreApplication::translate(
                             "RunCommand",
                             "parafold-cli: warning: and %1 more rules that rewrite an earlier "
                             "rule's output")
                             .arg(found.total - qint64(named));
    }
    return true;
}

} // namespace

bool CaptureSettings(const CommandRequest &request, BatchSettings &settings, QString &message,
                     QStringList *warnings, const std::atomic_bool *stop)
{
    settings.sourceDir = AbsoluteFolder(request.source);
    settings.detectUtf16 = !request.noUtf16;
    if (!request.includes.isEmpty() || !request.excludes.isEmpty()) {
        FileMasks masks; // checked when the line was parsed
        masks.parse(request.includes, request.excludes);
        settings.fileMasks = masks.text();
    }
    if (request.operation != Operation::FindText) {
        settings.withBom = request.withBom;
        settings.saveInSource = request.inPlace;
        settings.journal = !request.noJournal;
        settings.saveDir = request.inPlace ? QString() : AbsoluteFolder(request.saveDir);
    }
    switch (request.operation) {
    case Operation::ReplaceText:
        settings.findText = request.find;
        settings.replaceText = request.replace;
        if (settings.findText.isEmpty()) {
            message = messageEmptyFind();
            return false;
        }
        break;
    case Operation::ReplacePairs:
        if (request.rulesGiven) {
            if (!ReadRules(request.rulesFile, settings, message, warnings, stop))
                return false;
            break;
        }
        if (!ReadLineListFile(request.findFile, settings.findLines, message) ||
            !ReadLineListFile(request.replaceFile, settings.replaceLines, message))
            return false;
        if (settings.findLines.size() != settings.replaceLines.size()) {
            message = messageCountMismatch();
            return false;
        }
        break;
    case Operation::InsertText:
        settings.insertAtFront = !request.behind;
        if (request.textFileGiven) {
            if (!ReadWholeTextFile(request.textFile, settings.insertText, message))
                return false;
        } else {
            settings.insertText = request.text;
        }
        break;
    case Operation::FindText:
        settings.searchTerms = request.terms;
        settings.anyTerms = request.anyTerms;
        settings.noneTerms = request.noneTerms;
        break;
    case Operation::ConvertEncoding:
        settings.convertTo = request.convertTo;
        settings.convertFrom = request.convertFrom;
        settings.convertLineEnds = request.lineEnds;
        break;
    case Operation::ConvertChinese:
        settings.chineseConfig = request.chineseConfig;
        break;
    }
    SetReportPaths(settings);
    message = FolderCheckMessage(request.operation, settings);
    return message.isEmpty();
}

QString CliRefusal(const QString &message, const BatchSettings &settings)
{
    const QString prefix = QStringLiteral("parafold-cli: ");
    if (message == messageSourceMissing() || message == messageFolderMissing())
        return prefix +
               QCoreApplication::translate("RunCommand", "the source folder does not exist: %1")
                   .arg(NativeSeparators(settings.sourceDir));
    if (message == messageSaveMissing())
        return prefix + QCoreApplication::translate(
                            "RunCommand", "the save folder does not exist: %1 (use --in-place to "
                                          "edit the files where they are)")
                            .arg(NativeSeparators(settings.saveDir));
    if (message == messageSameFolder())
        return prefix + QCoreApplication::translate("RunCommand",
                                                    "the save folder is the source folder: %1 (use "
                                                    "--in-place to overwrite the files)")
                            .arg(NativeSeparators(settings.saveDir));
    if (message == messageSaveInsideSource())
        return prefix + QCoreApplication::translate(
                            "RunCommand", "the save folder lies inside the source folder: %1")
                            .arg(NativeSeparators(settings.saveDir));
    if (message == messageEmptyFind())
        return prefix + QCoreApplication::translate("RunCommand", "the text to find is empty");
    if (message == messageEmptyInsert())
        return prefix + QCoreApplication::translate("RunCommand", "the text to insert is empty");
    if (message == messageCountMismatch())
        return prefix + QCoreApplication::translate(
                            "RunCommand", "--find-file has %1 lines but --replace-file has %2")
                            .arg(settings.findLines.size())
                            .arg(settings.replaceLines.size());
    return message.startsWith(prefix) ? message : prefix + message;
}

int RunWithConsole(const CommandRequest &request, Operation operation, Console &console,
                   std::atomic_bool &stop, const std::atomic_bool &interrupted, const Runner &run,
                   RunObserver observer)
{
    RunOptions options;
    options.dryRun = request.dryRun;
    options.writeReports = request.report;
    options.stop = &stop;
    options.sync = !request.noSync;

    ProgressBar progress(console);
    const bool showProgress = console.stderrIsTerminal() && !request.quiet;
    const bool stopWhenUnread = operation == Operation::FindText;
    // A caller that lists files its own way keeps its fileDecided; the paths then stay off.
    const bool listPaths = !observer.fileDecided;

    const auto found = [&](const QString &nativePath, const QString &encoding) {
        if (listPaths)
            console.writeFound(nativePath, encoding);
        // Nobody reads the list any more: a search has nothing else to give, but an
        // edit goes on, since stopping would leave the tree half edited.
        if (stopWhenUnread && console.stdoutClosed())
            stop = true;
    };
    if (request.showEncoding)
        observer.fileFoundEncoding = found;
    else
        observer.fileFound = [found](const QString &nativePath) { found(nativePath, QString()); };
    observer.fileHandled = [&](qint64 bytes) {
        console.flushFoundIfDue();
        if (showProgress)
            progress.fileHandled(bytes);
    };
    observer.fileFailed = [&](const QString &nativePath, const FileFailure &failure) {
        console.printLine(ReportLineWithReason(nativePath, failure.describe()));
    };
    if (showProgress) {
        observer.scanFinished = [&](int txtFiles) { progress.setTotal(txtFiles); };
        observer.showDisposingFile = [&](const QString &text) { progress.setFileInHand(text); };
        observer.runFinished = [&] { progress.finish(); };
        progress.start();
    }

    const RunResult result = run(observer, options);
    progress.finish();
    console.flushFound();
    // The checks above refuse first; the engine's own refusal is the last line of defence.
    if (!result.refusal.isEmpty()) {
        console.printLine(CliRefusal(result.refusal, BatchSettings()));
        return ExitFailure;
    }

    if (!request.quiet)
        console.printLine(result.statistics);
    for (const auto &[path, reason] : result.unwrittenReports)
        console.printLine(QCoreApplication::translate(
                              "RunCommand", "parafold-cli: cannot write the report %1: %2")
                              .arg(NativeSeparators(path), reason));
    // Dropped undo history is news even to a quiet caller.
    if (!result.journalNote.isEmpty())
        console.printLine(QStringLiteral("parafold-cli: ") + result.journalNote);
    if (console.stdoutError() != 0) {
        console.printLine(QCoreApplication::translate(
                              "RunCommand", "parafold-cli: cannot write the list to stdout: %1")
                              .arg(QString::fromLocal8Bit(std::strerror(console.stdoutError()))));
        return ExitFailure;
    }
    if (result.stopped && interrupted) {
        console.printLine(QStringLiteral(
            "parafold-cli: interrupted; the files after the one in hand were not handled"));
        return ExitInterrupted;
    }
    if (result.failed > 0 || !result.unwrittenReports.empty())
        return ExitFailure;
    return result.changed > 0 ? ExitFound : ExitNoneFound;
}

int RunCommand(const CommandRequest &request, Console &console, std::atomic_bool &stop,
               const std::atomic_bool &interrupted)
{
    BatchSettings settings;
    QString refusal;
    QStringList warnings;
    if (!CaptureSettings(request, settings, refusal, &warnings, &stop)) {
        if (stop && interrupted) {
            console.printLine(QCoreApplication::translate(
                "RunCommand", "parafold-cli: interrupted before the first file"));
            return ExitInterrupted;
        }
        console.printLine(CliRefusal(refusal, settings));
        return ExitFailure;
    }
    for (const QString &warning : warnings)
        console.printLine(warning);
    // A run that writes in the tree takes its turn on it; a search or a dry run only reads.
    TreeLock treeLock;
    if (!request.dryRun && request.operation != Operation::FindText) {
        if (const int status =
                LockSourceTree(settings.sourceDir, request.noWait, console, treeLock, interrupted))
            return status;
    }
    if (request.report)
        DeleteStaleReports(settings);
    RunObserver observer;
    if (request.context >= 0)
        observer.fileDecided = FoundLinesPrinter(settings, console);
    QString hitsReport;
    observer.openReport = [&](const QString &path) {
        if (path.endsWith(reportRuleHitsName))
            hitsReport = path;
    };
    return RunWithConsole(
        request, request.operation, console, stop, interrupted,
        [&](const RunObserver &withConsole, const RunOptions &options) {
            RunOptions keeping = options;
            keeping.keepOriginals = request.context >= 0;
            if (request.context >= 0)
                keeping.decided = FoundLinesFinder(settings, request.context);
            RunResult result = RunBatch(request.operation, settings, withConsole, keeping);
            if (request.verbose && result.refusal.isEmpty()) {
                for (const QString &line :
                     RuleHitLines(settings.findLines, settings.replaceLines, result.hits))
                    console.printLine(line);
            }
            if (!hitsReport.isEmpty() && !request.quiet)
                console.printLine(QCoreApplication::translate(
                                      "RunCommand", "parafold-cli: each rule's hits are in %1")
                                      .arg(NativeSeparators(hitsReport)));
            return result;
        },
        observer);
}
