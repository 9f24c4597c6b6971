#include "engine/worker/ThreadObject.h"

#include "engine/operations/FileHook.h"
#include "engine/report/ReportViewer.h"
#include "engine/report/Reports.h"
#include "engine/run/RunBatch.h"
#include "platform/Program.h"

ThreadObject::ThreadObject(QObject *parent) : QObject(parent)
{
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

namespace {

// A term typed with a blank at an end ("小云 || 小吉") is searched with it, and a search
// that then finds nothing should say why it may have.
QString BlankEdgesHint(const QStringList &terms)
{
    for (const QString &term : terms) {
        if (!term.isEmpty() && (term.front().isSpace() || term.back().isSpace()))
            return QStringLiteral("注意:查找内容“%1”的开头或末尾有空格,空格也会被查找。").arg(term);
    }
    return QString();
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
    observer.openReport = [opener = reportOpener](const QString &reportPath) {
        if (opener)
            opener(reportPath);
    };
    RunOptions options;
    options.stop = &stop;
    const RunResult result = RunBatch(operation, settings, observer, options);
    const QString blanks = operation == Operation::FindText && result.changed == 0 &&
                                   result.refusal.isEmpty() && !result.stopped
                               ? BlankEdgesHint(SplitTerms(settings.searchTerms))
                               : QString();
    if (!blanks.isEmpty()) {
        emit ShowDisposingFile(result.statistics + QLatin1Char('\n') + blanks);
    } else if (!result.refusal.isEmpty()) {
        emit ShowDisposingFile(result.refusal);
        emit Set_pBtn_Enable();
    } else if (!result.unwrittenReports.empty() || !result.journalNote.isEmpty()) {
        // The list of failed files would be lost without a word; so would dropped undo runs.
        QString line = result.unwrittenReports.empty() ? result.statistics
                                                       : WithReportFailure(result.statistics);
        if (!result.journalNote.isEmpty())
            line += QLatin1Char('\n') + result.journalNote;
        emit ShowDisposingFile(line);
    }
    stop = false;
    emit runDone();
}
