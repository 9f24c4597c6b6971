#include "engine/worker/ThreadObject.h"

#include "engine/batch/Failure.h"
#include "engine/files/FileSystem.h"
#include "engine/files/Paths.h"
#include "engine/operations/FileHook.h"
#include "engine/operations/RuleTable.h"
#include "engine/report/ReportViewer.h"
#include "engine/report/Reports.h"
#include "engine/run/Plan.h"
#include "engine/run/RunBatch.h"
#include "engine/run/TextFile.h"
#include "platform/Program.h"

#include <algorithm>

namespace {

// A file's path below the source folder, as a plan names it, from its native path.
QString RelativeToSource(const QString &nativePath, const BatchSettings &settings)
{
    const QString path = FromNativeSeparators(nativePath);
    QString source = FromNativeSeparators(settings.sourceDir);
    if (!source.isEmpty() && !source.endsWith(QLatin1Char('/')))
        source += QLatin1Char('/');
    return path.startsWith(source) ? path.mid(source.size()) : path;
}

PlanRow RowOf(const PlannedFile &file, const BatchSettings &settings)
{
    PlanRow row;
    row.relativePath = file.relativePath;
    row.nativePath = NativeSeparators(JoinPath(settings.sourceDir, file.relativePath));
    if (file.failed) {
        row.failure = file.failure.describe();
        return row;
    }
    row.encoding = EncodingName(file.encoding);
    row.hash = file.hash;
    row.newHash = file.newHash;
    row.changesHash = ChangesHash(file.changes, file.utf8Texts);
    for (const int count : file.matches) {
        row.matches += count;
        row.eachMatches << count;
    }
    for (const PlannedChange &change : file.changes) {
        row.lines << change.line;
        row.before << change.before;
        row.after << change.after;
    }
    for (const auto &[line, text] : file.foundLines) {
        if (std::find(file.foundLineNumbers.begin(), file.foundLineNumbers.end(), line) ==
            file.foundLineNumbers.end())
            continue;
        row.lines << line;
        row.before << text;
        row.after << text;
    }
    return row;
}

} // namespace

ThreadObject::ThreadObject(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<PlanRow>();
    qRegisterMetaType<QVector<qint64>>("QVector<qint64>"); // as the signal names it
    if (platform::ReportsOpenInNotepad())
        reportOpener = NotepadOpener();
}

void ThreadObject::setReportOpener(std::function<void(const QString &)> opener)
{
    reportOpener = std::move(opener);
}

void ThreadObject::requestStop()
{
    stop = true;
}

RunProgress ThreadObject::takeProgress()
{
    QMutexLocker locker(&progressLock);
    progressSent = false;
    return progress;
}

template <typename Change> void ThreadObject::changeProgress(Change change)
{
    {
        QMutexLocker locker(&progressLock);
        change(progress);
        if (progressSent)
            return;
        progressSent = true;
    }
    emit progressChanged();
}

void ThreadObject::ReplaceExcelText()
{
    run(Operation::ReplaceText);
}

void ThreadObject::JustFindText()
{
    run(Operation::FindText);
}

void ThreadObject::ReplaceExcelText_2()
{
    run(Operation::ReplacePairs);
}

void ThreadObject::InsertText()
{
    run(Operation::InsertText);
}

void ThreadObject::ConvertEncoding()
{
    run(Operation::ConvertEncoding);
}

void ThreadObject::ConvertChinese()
{
    run(Operation::ConvertChinese);
}

namespace {

// A term typed with a blank at an end ("小云 || 小吉") is searched with it, and a search
// that then finds nothing should say why it may have.
QString BlankEdgesHint(const QStringList &terms)
{
    for (const QString &term : terms) {
        if (!term.isEmpty() && (term.front().isSpace() || term.back().isSpace()))
            return ThreadObject::tr("Note: the search text “%1” begins or ends with a blank, which "
                                    "is searched for too.")
                .arg(term);
    }
    return QString();
}

// "Replacements per pair: pair 1: 19, pair 2: 0"; with many pairs only those that replaced
// nothing.
QString PairHitsLine(const std::vector<qint64> &hits, const QStringList &finds)
{
    const int pairs = finds.size();
    const auto count = [&](int pair) { return pair < int(hits.size()) ? hits[pair] : 0; };
    QStringList pieces;
    if (pairs <= 8) {
        for (int pair = 0; pair < pairs; ++pair)
            pieces << ThreadObject::tr("pair %1: %2").arg(pair + 1).arg(count(pair));
        return pieces.isEmpty() ? QString()
                                : ThreadObject::tr("Replacements per pair: %1")
                                      .arg(pieces.join(ThreadObject::tr(", ", "between pairs")));
    }
    // By number and find text, so a rule of a long table can be told; the first ones only.
    constexpr int named = 20;
    int idle = 0;
    for (int pair = 0; pair < pairs; ++pair) {
        if (count(pair) != 0 || finds.at(pair).isEmpty())
            continue;
        if (++idle <= named)
            pieces << ThreadObject::tr("%1 (%2)", "a pair's number and find text")
                          .arg(pair + 1)
                          .arg(EscapeRuleText(finds.at(pair)));
    }
    if (idle > named)
        pieces << ThreadObject::tr("%1 more").arg(idle - named);
    return pieces.isEmpty() ? ThreadObject::tr("Every pair replaced something.")
                            : ThreadObject::tr("Pairs that replaced nothing: %1")
                                  .arg(pieces.join(ThreadObject::tr(", ", "between numbers")));
}

} // namespace

void ThreadObject::run(Operation operation)
{
    // The run's own copy: a later launch may rewrite the shared record while this one works.
    const BatchSettings settings = batchSettings;
    changeProgress([](RunProgress &progress) { progress = RunProgress(); });
    RunObserver observer;
    observer.scanFinished = [this](int txtFiles) {
        changeProgress([txtFiles](RunProgress &progress) { progress.total = txtFiles; });
    };
    // Each file in hand, and last the statistics line.
    observer.showDisposingFile = [this](const QString &text) {
        changeProgress([&text](RunProgress &progress) { progress.text = text; });
    };
    observer.fileHandled = [this](qint64) {
        changeProgress([](RunProgress &progress) { ++progress.done; });
    };
    observer.runFinished = [this] {
        QString statistics;
        {
            QMutexLocker locker(&progressLock);
            statistics = progress.text;
        }
        emit ShowDisposingFile(statistics);
        emit Set_pBtn_Enable();
    };
    // Kept in case their report cannot be written.
    QVector<PlanRow> failures;
    observer.fileFailed = [&](const QString &nativePath, const FileFailure &failure) {
        PlanRow row;
        row.nativePath = nativePath;
        row.relativePath = RelativeToSource(nativePath, settings);
        row.failure = failure.describe();
        failures << row;
    };
    // The rules' hits are named below the statistics line rather than opened: a run opens
    // its list of files.
    QString hitsReport;
    observer.openReport = [opener = reportOpener, &hitsReport](const QString &reportPath) {
        if (reportPath.endsWith(reportRuleHitsName))
            hitsReport = reportPath;
        else if (opener)
            opener(reportPath);
    };
    RunOptions options;
    options.stop = &stop;
    PlanOptions planOptions;
    planOptions.withHunks = false;
    planOptions.context = 0;
    const auto planned = [&](const PlannedFile &file) {
        PlanRow row = RowOf(file, settings);
        // In place a read-only file would fail when applied: said now rather than promised.
        if (operation != Operation::FindText && settings.saveInSource && row.failure.isEmpty() &&
            !FileWritable(JoinPath(settings.sourceDir, file.relativePath)))
            row.failure = reasonReadOnly();
        emit filePlanned(row);
    };
    RunResult result;
    if (mode == Mode::Preview && operation != Operation::FindText) {
        result = MakePlan(operation, settings, planned, observer, options, planOptions);
    } else if (mode == Mode::Apply) {
        result = ApplyPlan(reviewed, settings, observer, options);
    } else {
        if (mode == Mode::Preview) {
            // A search is its own preview: its files come as rows, its report as ever.
            options.keepOriginals = true;
            observer.fileDecided = [&](const QString &relativePath, const FileDecision &decision) {
                if (decision.outcome.kind == FileOutcome::Changed)
                    planned(
                        PlanFromDecision(operation, settings, relativePath, decision, planOptions));
            };
        }
        // The pairs' counts go below the statistics line.
        options.countHits = operation == Operation::ReplacePairs;
        result = RunBatch(operation, settings, observer, options);
    }
    // Below the statistics line: why a search may have found nothing, and which pairs did
    // nothing, which a user of many rules wants to know.
    QStringList notes;
    if (operation == Operation::FindText && result.changed == 0 && !result.stopped)
        notes << BlankEdgesHint(SplitTerms(settings.searchTerms));
    if (operation == Operation::ReplacePairs && mode == Mode::Run)
        notes << PairHitsLine(result.hits, settings.findLines);
    if (!hitsReport.isEmpty())
        notes << ThreadObject::tr("Each rule's hits: %1").arg(NativeSeparators(hitsReport));
    notes.removeAll(QString());
    if (!result.refusal.isEmpty()) {
        emit ShowDisposingFile(result.refusal);
        emit Set_pBtn_Enable();
    } else if (!result.unwrittenReports.empty() || !result.journalNote.isEmpty() ||
               !notes.isEmpty()) {
        // The list of failed files would be lost without a word; so would dropped undo runs.
        QString line = result.unwrittenReports.empty() ? result.statistics
                                                       : WithReportFailure(result.statistics);
        if (!result.journalNote.isEmpty())
            line += QLatin1Char('\n') + result.journalNote;
        for (const QString &note : notes)
            line += QLatin1Char('\n') + note;
        emit ShowDisposingFile(line);
    }
    const bool failuresLost =
        std::any_of(result.unwrittenReports.begin(), result.unwrittenReports.end(),
                    [](const auto &report) { return report.first.endsWith(reportUnreadableName); });
    if (failuresLost) {
        for (const PlanRow &row : failures)
            emit failureUnreported(row);
    }
    if (operation == Operation::ReplacePairs && mode != Mode::Preview && result.refusal.isEmpty()) {
        QStringList rules;
        QVector<qint64> hits;
        for (int i = 0; i < settings.findLines.size() && i < settings.replaceLines.size(); ++i) {
            rules << DescribeRule({settings.findLines.at(i), settings.replaceLines.at(i)});
            hits << (size_t(i) < result.hits.size() ? result.hits[size_t(i)] : 0);
        }
        emit rulesCounted(rules, hits);
    }
    stop = false;
    emit runDone();
}
