#pragma once

#include "Operation.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>

// The worker that runs one operation on its own thread. Each slot takes a copy of the
// process-wide batchSettings when it starts.
class ThreadObject : public QObject
{
    Q_OBJECT

public:
    explicit ThreadObject(QObject *parent = nullptr);

    // Shows a written report to the user; the window passes the desktop's viewer.
    void setReportOpener(std::function<void(const QString &reportPath)> opener);
    // Thread-safe: the run in hand ends after the file it is handling.
    void requestStop();

signals:
    void ShowDisposingFile(QString filePath);
    void Set_pBtn_Enable();
    // The slot has returned; the reports are written.
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
