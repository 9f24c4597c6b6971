#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/batch/Failure.h"

#include <QHash>
#include <QMap>
#include <QString>
#include <atomic>
#include <functional>
#include <utility>
#include <vector>

// What a caller learns while a run works. Every member is optional and is called on the
// thread that called RunBatch, in scan order; the threads that read files ahead call none.
struct FileDecision;

struct RunObserver
{
    // Each .txt file's decision, before its turn to be written, with its path below the
    // source folder; with RunOptions::keepOriginals it holds the bytes read.
    std::function<void(const QString &relativePath, const FileDecision &decision)> fileDecided;
    // After the scan: how many .txt files are coming.
    std::function<void(int txtFiles)> scanFinished;
    // Each .txt file's native path before it is handled, then the statistics line.
    std::function<void(const QString &text)> showDisposingFile;
    // A file has been handled; bytes is its size on disk.
    std::function<void(qint64 bytes)> fileHandled;
    // A file changed (or, for the find-only operation, matched), by native source path.
    std::function<void(const QString &nativePath)> fileFound;
    // The same, with the encoding the file was read in ("GBK", "UTF-8", ...).
    std::function<void(const QString &nativePath, const QString &encoding)> fileFoundEncoding;
    // A file could not be read, decoded losslessly or written; nothing was written for it.
    std::function<void(const QString &nativePath, const FileFailure &failure)> fileFailed;
    // The last file is done (or the run was stopped) and the statistics line is out; the
    // reports follow.
    std::function<void()> runFinished;
    // A report file has been written and may be shown to the user.
    std::function<void(const QString &reportPath)> openReport;
};

// A file as a plan was reviewed: what it held, and what the plan would make of it.
struct ReviewedFile
{
    quint64 hash = 0;        // ContentHash of the file as it was planned
    quint64 newHash = 0;     // of the bytes the plan would write
    quint64 changesHash = 0; // ChangesHash (Plan.h) of the changed lines the plan shows
};
using ReviewedFiles = QHash<QString, ReviewedFile>;

struct RunOptions
{
    bool dryRun = false;                    // decide every file, write nothing at all
    bool writeReports = true;               // write the report files into the source folder
    const std::atomic_bool *stop = nullptr; // when set, the run ends after the file in hand
    bool journalByCopy = false; // keep originals by copy, as where hard links are refused
    // Each group of writes reaches the disk before its files are renamed into place; without
    // it a power cut may leave a replaced file empty or zeroed, for speed.
    bool sync = true;
    // Decisions keep the bytes they read and their hit counts, for fileDecided.
    bool keepOriginals = false;
    // Decisions count each pair's (or the one find's) replacements, for RunResult::hits.
    bool countHits = false;
    // Called with each .txt file's decision on the thread that took it, ahead of its turn, to
    // do more work there (FileDecision::attachment) while the caller's thread writes.
    std::function<void(const QString &relativePath, FileDecision &decision)> decided;
    // When set, the run takes only these files, by path below the source folder (decided
    // checks each against its review); a listed file that is no longer a .txt file of the tree
    // fails. Nothing else of the tree is touched.
    const ReviewedFiles *reviewed = nullptr;
};

struct RunResult
{
    int scanned = 0;           // files of the scan reached before the run ended
    int txtFiles = 0;          // .txt files
    int changed = 0;           // files changed, or matched for the find-only operation
    int failed = 0;            // files on the unreadable list
    int alreadyInTarget = 0;   // a conversion's files left alone, already in the target encoding
    QMap<QString, int> readIn; // a conversion's files read, by the encoding they were read in
    qint64 seconds = 0;
    bool stopped = false; // RunOptions::stop ended the run before the last file
    QString statistics;
    // For pairs (and the single replacement): how often each pair was replaced, over the
    // files changed.
    std::vector<qint64> hits;
    // Reports that could not be written, each with the system's words for it.
    std::vector<std::pair<QString, QString>> unwrittenReports;
    // The journal that can undo an in-place run; empty when nothing was replaced or the
    // journal was turned off.
    QString journalRunId;
    // Not empty when older runs were dropped from the journal to make room.
    QString journalNote;
    // Not empty when an editing run was refused before it scanned anything, as it would lose
    // data or have to guess: pair lists of different lengths, no save folder given, or a save
    // folder that is the source folder. No observer member is called then. A save folder that
    // does not exist yet is made as files are written, and a missing source folder scans
    // empty: checking those is the launch's part.
    QString refusal;
};

// Runs one operation over settings.sourceDir, on a copy of settings whose report paths are
// set inside the source folder, and returns when the reports are written. The window's
// worker and the command line both call this, after the checks of LaunchChecks.h.
RunResult RunBatch(Operation operation, const BatchSettings &settings, const RunObserver &observer,
                   const RunOptions &options = {});
