#include "engine/worker/ThreadObject.h"

#include "engine/report/Reports.h"
#include "engine/run/RunBatch.h"

#ifdef Q_OS_WIN
#include <QDir>
#include <QProcess>
#endif

ThreadObject::ThreadObject(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_WIN
    reportOpener = [](const QString &reportPath) {
        QProcess::startDetached(QStringLiteral("notepad.exe"),
                                {QDir::toNativeSeparators(reportPath)});
    };
#endif
}

void ThreadObject::setReportOpener(std::function<void(const QString &)> opener)
{
    reportOpener = std::move(opener);
}

void ThreadObject::requestStop()
{
    stop = true;
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

void ThreadObject::run(Operation operation)
{
    // The run's own copy: a later launch may rewrite the shared record while this one works.
    const BatchSettings settings = batchSettings;
    RunObserver observer;
    observer.showDisposingFile = [this](const QString &text) { emit ShowDisposingFile(text); };
    observer.runFinished = [this] { emit Set_pBtn_Enable(); };
    observer.openReport = [opener = reportOpener](const QString &reportPath) {
        if (opener)
            opener(reportPath);
    };
    RunOptions options;
    options.stop = &stop;
    const RunResult result = RunBatch(operation, settings, observer, options);
    if (!result.refusal.isEmpty()) {
        emit ShowDisposingFile(result.refusal);
        emit Set_pBtn_Enable();
    } else if (!result.unwrittenReports.empty()) {
        // The list of failed files would be lost without a word.
        emit ShowDisposingFile(WithReportFailure(result.statistics));
    }
    stop = false;
    emit runDone();
}
