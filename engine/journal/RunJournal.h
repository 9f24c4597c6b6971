#pragma once

#include "engine/batch/BatchSettings.h"
#include "engine/files/FileTree.h"
#include "engine/journal/Journal.h"

#include <QString>
#include <QStringList>
#include <map>
#include <thread>

// What the journal needs to know of a file's new content and of the original it replaces,
// taken while the file was decided.
struct ReplacedContent
{
    quint64 originalHash = 0;
    qint64 writtenSize = 0;
    quint64 writtenHash = 0;
};

struct JournalLimits
{
    int runs = journalKeptRuns;
    qint64 bytes = journalLimitMegabytes << 20;
};

// The journal of one in-place run, written as the run goes. Its folder is made when the
// first file is about to be replaced, so a run that changes nothing leaves no trace. All of it
// goes through the source folder's FileTree: it is private to its owner (folders 0700, files
// 0600; kept originals keep their own mode inside them), and nothing in it is followed
// through a link.
class RunJournal
{
public:
    enum class Keep
    {
        LinkOrCopy, // a hard link where the file system has them, otherwise a copy
        Copy,       // always a copy, as where hard links are refused
    };

    RunJournal(const QString &sourceDir, Operation operation, Keep keep = Keep::LinkOrCopy,
               const JournalLimits &limits = JournalLimits());
    // The run's texts (RunTerms), written with the journal's header.
    void setTerms(const QString &text) { terms = text; }

    // Waits for the dropping of old runs.
    ~RunJournal();
    RunJournal(const RunJournal &) = delete;
    RunJournal &operator=(const RunJournal &) = delete;

    // Call just before the file at relativePath (below the source folder) is replaced: keeps
    // the original and makes its entry, so that a kill after this call leaves an entry that
    // restores it. False, with the reason, when the original could not be kept; the file
    // must then not be replaced. path is the file's path, for messages. The original and
    // its entry reach the disk with the next flush of the source folder's file system, which
    // must come before the file is replaced. number receives the entry's number.
    bool keepOriginal(const QString &path, const QString &relativePath,
                      const ReplacedContent &content, QString *error, int *number = nullptr);
    // The file of that entry was not replaced after all: its kept original (a second name
    // for the file, where it was kept by a hard link) and its entry go again.
    void dropEntry(int number);

    // The run is over: writes its entry list whole and drops the oldest runs beyond the
    // limits. Returns a note for the user when a run was dropped, otherwise nothing.
    QString finish();

    // Empty until the run's folder has been made.
    QString runId() const { return id; }

private:
    bool ensureOpen(QString *error);
    bool create(QString *error);
    bool keep(const QString &relativePath, const QString &keptRelative, QString *error);
    bool appendLine(const QByteArray &line, QString *error, bool durable);
    // Drops the runs beyond the count and beyond bytesLimit, counting this run with ownBytes;
    // returns the start times of those dropped.
    QStringList dropOldRuns(FileTree &tree, qint64 ownBytes, qint64 bytesLimit) const;
    QString inRun(const QString &name) const;
    QString keptPath(int number) const;
    // The folder that keeps the original numbered so, made when it is the first there.
    bool makeOriginalsFolder(int number, QString *error);

    FileTree source;
    FileTree droppingTree; // the same folder, for the thread that drops old runs
    const QString operation;
    QString terms;
    const Keep method;
    const JournalLimits limits;
    const qint64 startedMs;
    QString id;
    QString openError;
    bool opened = false;
    AppendedFile entries; // the entry list, open while the run works
    bool cutLine = false; // the last line could not be written whole
    int files = 0;
    qint64 originalBytes = 0;
    // The originals' sizes of the last entries, which the writer may still take back.
    std::map<int, qint64> keptSizes;
    int lastNumber = 0;
    int madeFolder = -1; // of the originals, the last made
    std::thread dropping;
    QStringList droppedEarly;
};

// The command line's name of an operation, as the journal records it.
QString OperationName(Operation operation);
