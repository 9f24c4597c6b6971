#pragma once

#include "BatchSettings.h"
#include "Operation.h"

#include <QString>
#include <atomic>
#include <functional>

// What a caller learns while a run works. Every member is optional and is called on the
// thread that runs the batch, in scan order.
struct RunObserver
{
    // After the scan: how many .txt files are coming.
    std::function<void(int txtFiles)> scanFinished;
    // Each .txt file's native path before it is handled, then the statistics line.
    std::function<void(const QString &text)> showDisposingFile;
    // A file has been handled; bytes is its size on disk.
    std::function<void(qint64 bytes)> fileHandled;
    // A file changed (or, for the find-only operation, matched), by native source path.
    std::function<void(const QString &nativePath)> fileFound;
    // A file could not be read, decoded losslessly or written; nothing was written for it.
    std::function<void(const QString &nativePath, const QString &reason)> fileFailed;
    // All files are done and the statistics line is out; the reports follow.
    std::function<void()> runFinished;
    // A report file has been written and may be shown to the user.
    std::function<void(const QString &reportPath)> openReport;
};

struct RunOptions
{
    bool dryRun = false;                    // decide every file, write nothing at all
    bool writeReports = true;               // write the report files into the source folder
    const std::atomic_bool *stop = nullptr; // when set, the run ends after the file in hand
};

struct RunResult
{
    int scanned = 0; // every file of the scan
    int typed = 0;   // .txt files
    int changed = 0; // files changed, or matched for the find-only operation
    int failed = 0;  // files on the unreadable list
    qint64 seconds = 0;
    bool stopped = false;
    QString statistics;
    // Not empty when the run was refused before it touched anything (a save folder that is
    // the source folder, a missing save folder, pair lists of different lengths); no
    // observer member is called then.
    QString refusal;
};

// Runs one operation over settings.sourceDir, on a copy of settings whose report paths are
// set inside the source folder. The window's worker and the command line both call this.
RunResult RunBatch(Operation operation, const BatchSettings &settings, const RunObserver &observer,
                   const RunOptions &options = {});
