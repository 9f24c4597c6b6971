#pragma once

#include "engine/batch/BatchSettings.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

// The worker of one launch: made and set up on the GUI thread, then moved to a thread of
// its own, where a slot runs the whole batch (RunBatch) and returns when the reports are
// written. Each slot takes a copy of the process-wide batchSettings when it starts, so a
// later launch may fill the record again meanwhile.
class ThreadObject : public QObject
{
    Q_OBJECT

public:
    explicit ThreadObject(QObject *parent = nullptr);

    // The opener shows a written report to the user. It is called on the worker's thread, so
    // set it before a slot runs. Notepad on Windows by default, none elsewhere; the window
    // passes the desktop's viewer.
    void setReportOpener(std::function<void(const QString &reportPath)> opener);
    // Thread-safe: the run ends after the file in hand (one not started yet, before its first
    // file). The request is cleared when the slot returns.
    void requestStop();

signals:
    // Each .txt file's native path as it is handled, then the statistics line (once more,
    // with a note, after the reports when one could not be written); or only the refusal of
    // a run that RunBatch refused.
    void ShowDisposingFile(QString filePath);
    // After the statistics line or refusal, before the reports are written.
    void Set_pBtn_Enable();
    // The slot is about to return; the reports are written.
    void runDone();

public slots:
    void ReplaceExcelText();
    void JustFindText();
    void ReplaceExcelText_2();
    void InsertText();

private:
    void run(Operation operation);

    std::function<void(const QString &)> reportOpener;
    std::atomic_bool stop{false};
};
