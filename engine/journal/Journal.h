#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <vector>

class FileTree;

// The journal of in-place runs: the folder .parafold-journal at the top of the source
// folder holds one folder per run, named by the run's start time. A run's folder holds the
// entry list "entries.tsv", each line with a check of its own and each entry written before
// its file is replaced, and, in "originals", the replaced files under their entry numbers (in
// folders of journalOriginalsPerFolder where the header says so); "restored" lists the
// entries an undo has put back, "undone" marks a run whose files are all back. The scan never
// enters it. Everything in it may have been planted by someone else (an archive, a shared drive):
// nothing of it is followed through a link.

extern const QString journalFolderName; // ".parafold-journal"

// Retention: the last runs are kept, fewer when their originals together pass the limit.
constexpr int journalKeptRuns = 10;
constexpr qint64 journalLimitMegabytes = 2048;
// A run keeps at most this many originals ahead of replacing their files, so that one flush
// takes a group of them to the disk.
constexpr int journalKeptAhead = 64;
// Originals are kept in numbered folders of this many: a link into one folder of thousands
// searches its names one by one, which cost the thread replacing the files more than the
// new folders do.
constexpr int journalOriginalsPerFolder = 64;

struct JournalEntry
{
    int number = 0; // the original's file name (JournalOriginalRelative)
    qint64 originalSize = 0;
    qint64 originalModifiedMs = 0; // milliseconds since 1970, UTC
    quint64 originalHash = 0;
    qint64 writtenSize = 0;
    quint64 writtenHash = 0;
    int originalMode = -1; // permission bits; -1 in journals that did not record them
    QString relativePath;  // below the source folder, "/" separators
};

struct JournalRun
{
    QString id;             // the folder's name
    QString folder;         // its path, for messages
    QString relativeFolder; // below the source folder
    QString operation;      // the command line's name of it: replace, replace-pairs, insert
    QString terms;          // its texts, shortened (RunTerms); empty in older journals
    qint64 startedMs = 0;
    bool finished = false; // false while the run works, or when it was killed
    bool undone = false;
    int files = 0;
    qint64 originalBytes = 0;
    int originalsPerFolder = 0;        // 0: all in "originals" itself, as older journals keep them
    std::vector<JournalEntry> entries; // only when read with them
    QSet<int> restored;                // entry numbers an undo has put back; with entries

    QString originalPath(const JournalEntry &entry) const;
    // Below the source folder.
    QString originalRelative(const JournalEntry &entry) const;
    QString originalRelative(int number) const;
    // Where an undo keeps, by a hard link, what the run wrote in a file it puts back (in
    // folders of journalOriginalsPerFolder), below the source folder: the undo frees nothing
    // while it works, and what it kept goes with the run's folder when retention drops it,
    // as a run's originals do.
    QString writtenRelative(int number) const;
};

// The journal's path, for messages; everything else reaches it through the source folder's
// FileTree, by journalFolderName.
QString JournalFolder(const QString &sourceDir);

// Every run of the source folder's journal, oldest first. Without entries, a finished run
// is summed up from its last line alone. A run folder that is a link is never read.
std::vector<JournalRun> ReadJournal(const QString &sourceDir, bool withEntries = false);
std::vector<JournalRun> ReadJournal(const FileTree &source, bool withEntries = false);
// One run; false when its folder holds no readable entry list.
bool ReadJournalRun(const FileTree &source, const QString &id, JournalRun &run, bool withEntries);
// The run folder at a path, read on its own.
bool ReadJournalRun(const QString &runFolder, JournalRun &run, bool withEntries);

// The lines of entries.tsv, each ended by a line feed and, but for the first, framed by a
// checksum: a line cut short by a full disk or a power cut is told from a whole one.
QByteArray JournalHeader(const QString &operation, qint64 startedMs, const QString &terms,
                         int originalsPerFolder);
QByteArray JournalEntryLine(const JournalEntry &entry);
// An entry taken back: its file was not replaced after all.
QByteArray JournalDroppedLine(int number, qint64 originalSize);
QByteArray JournalFinishedLine(int files, qint64 originalBytes);

// Takes a run out of the journal: renamed out of sight first, so that a kill while its
// files are deleted leaves no run with originals missing. False when it stays. Nothing is
// deleted through a link: a link is removed as a link.
bool DropJournalRun(FileTree &source, const JournalRun &run);
// Finishes the deletion of runs dropped before, and removes the temporary files that
// writers killed mid-write left in the others.
void RemoveDroppedRuns(FileTree &source);

// A run killed between keeping an original by a hard link and replacing its file leaves the
// file with a second name in the journal, which would keep every later run from replacing
// it; such names are removed: the file is still the original itself. An undo killed between
// keeping what the run wrote in a file and putting the file back leaves the same; that name
// goes too. Call before a run or an undo replaces anything.
void ReleaseInterruptedOriginals(FileTree &source);

// Marks a run as undone.
bool MarkJournalRunUndone(FileTree &source, const JournalRun &run);
// Records the entries an undo has put back so far.
bool RecordRestoredEntries(FileTree &source, const JournalRun &run, const QSet<int> &restored);

// The folder names of the journal, below the source folder.
QString JournalRelative(const QString &name = QString());
extern const QString journalOriginalsName; // "originals"
extern const QString journalEntriesName;   // "entries.tsv"
// Where an entry's original is kept, below its run's folder, and the folder it is kept in.
QString JournalOriginalRelative(int number, int perFolder);
QString JournalOriginalFolder(int number, int perFolder);

// An entry's path as undo may take it: relative, no empty, "." or ".." component, no drive
// or backslash on Windows. A journal comes with the folder, and may have been written by
// anyone.
bool IsValidEntryPath(const QString &relativePath);

// "2026-12-07 10:30:12" in local time.
QString JournalTimeText(qint64 ms);
