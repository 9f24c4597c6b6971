#pragma once

#include "engine/batch/BatchSettings.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

// Where a run stands, for a progress display.
struct RunProgress
{
    // The native path of the .txt file in hand; once the last file is done, the statistics line.
    QString text;
    int done = 0;   // .txt files handled
    int total = -1; // .txt files the scan found; -1 until the scan is over
};

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
    // Thread-safe: where the run stands now. Taking it lets progressChanged come again.
    RunProgress takeProgress();

signals:
    // Where the run stands has changed since it was last taken. Sent once until it is taken,
    // so that however fast the files go by, at most one waits in the receiver's queue; the
    // receiver decides how often to look.
    void progressChanged();
    // The statistics line as soon as the last file is done (once more, with a note, after the
    // reports when one could not be written), or the refusal of a run that RunBatch refused.
    // The files in hand come through progressChanged.
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
    void ConvertEncoding();

private:
    void run(Operation operation);
    template <typename Change> void changeProgress(Change change);

    std::function<void(const QString &)> reportOpener;
    std::atomic_bool stop{false};
    QMutex progressLock;
    RunProgress progress;      // guarded by progressLock
    bool progressSent = false; // guarded by progressLock: progressChanged not taken yet
};
