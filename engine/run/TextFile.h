#pragma once

#include "engine/batch/Failure.h"
#include "engine/files/FileIo.h"
#include "engine/files/FileTree.h"
#include "engine/journal/RunJournal.h"
#include "engine/operations/FileHook.h"

#include <QByteArray>
#include <QString>
#include <any>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

struct FileTask
{
    QString sourcePath;
    // The scanned folder, held open, and the file's path below it; the file is read through
    // it when given, so no link planted on the way is followed.
    const FileTree *sourceTree = nullptr;
    QString relativePath;
    bool writes = false; // changed files are written; otherwise the file is only tested
    bool detectUtf16 = false;
    bool withBom = false;
    bool journaled = false; // hash the original and the new bytes for the run's journal
    // The decision keeps the bytes it read (a plan shows and hashes them) and counts hits.
    // Read in pieces, a search keeps them by reading a match again, whole; an edit gathers
    // them as they pass, or reads the file whole where it is too large to be edited on a
    // worker.
    bool keepsOriginal = false;
    bool countsHits = false; // fill FileDecision::hits
    // The decision needs the whole file (its encoding, or a search's counts): not read in
    // pieces.
    bool readsWhole = false;
};

struct FileOutcome
{
    enum Kind
    {
        Unchanged,
        Changed, // or matched, when nothing is to be written
        Failed,
    };
    Kind kind = Unchanged;
    FileFailure failure; // for Failed
    qint64 bytes = 0;
    const char *encoding = nullptr; // the file's encoding as read (EncodingName), once known
};

// One file's decision, taken without changing anything on disk, so that it can be taken
// ahead of its turn on another thread.
struct FileDecision
{
    FileOutcome outcome;
    bool toWrite = false; // a changed file whose new bytes are to be written
    QByteArray newBytes;
    ReplacedContent replaced; // for a journaled task
    FileIdentity source;      // the file as it was read
    // With FileTask::keepsOriginal: the bytes read, for every file read whole.
    QByteArray original;
    // With FileTask::countsHits, for a changed file: each pair's (or the one find's)
    // replacements, or 1 for an insertion.
    std::vector<int> hits;
    // What RunOptions::decided made of the decision on the thread that took it, and about
    // how much memory that holds: it counts with the bytes held for the caller.
    std::any attachment;
    qint64 attachedBytes = 0;
    // Instead of newBytes, for a file edited a piece at a time: reads the file again and hands
    // its new bytes to write, and for a journaled task fills in what the journal keeps of
    // them. Changed when the file is not what it was when it was decided.
    using Stream = std::function<FileIoResult(const FileTree::ContentWrite &write,
                                              ReplacedContent &replaced, QString *error)>;
    Stream stream;
    // Instead of newBytes, for a file replaced in place: its new bytes already written beside
    // it (WritesAhead), and how many they were.
    PendingWrite prepared;
    qint64 preparedBytes = 0;
};

// The largest file an operation takes. An edit of clean UTF-8 or GBK holds the bytes and the
// new bytes, measured at 3.0 times the file's size; where the text must be decoded (UTF-16,
// for one) it also holds the text and the new text, up to 5.0 times, more when the
// replacement grows the text. A search settles most files from their bytes alone (1.0 times)
// but may have to decode, at up to 3.0 times. So one file stays below about 1.5 GB, and
// inside Qt 5's 2 GB per string even when every line end grows to CR LF.
qint64 FileSizeLimit(bool writes);
// What deciding a file of that size may need, with a margin for edits that grow the text.
qint64 DecisionMemory(qint64 size, bool writes);

// Called with the memory a file's decision will need, once its size is known and before it
// is read; may wait until that much is free.
using ReserveMemory = std::function<void(qint64 bytes)>;

// Reads the bytes, decides the encoding, settles the file from its bytes where the rule
// allows, otherwise decodes and applies the rule, and for a changed file that is written
// encodes the new text, provided that loses nothing. Running out of memory fails only this
// file.
FileDecision DecideTextFile(const FileTask &task, const FileRule &rule,
                            const ReserveMemory &reserve = {});

// Writes the new bytes of files changed in place to temporaries beside them on the threads that
// decide them, ahead of their turn, so that the caller's turn only keeps the original and
// renames. At most `most` at a time: each holds its file and folder open until its rename, and
// a decision taken beyond them is left to its turn.
class WritesAhead
{
public:
    WritesAhead(FileTree &tree, int most) : tree(tree), most(most) {}
    // On a deciding thread, for a decision of the file at relativePath in the tree; a failure
    // becomes the decision's outcome.
    void prepare(const QString &relativePath, FileDecision &decision);
    // On the caller's, as it takes the decision: its room is free again.
    void taken(const FileDecision &decision);

private:
    FileTree &tree;
    const int most;
    std::atomic<int> held{0};
};

class ScannedFileSet;

struct WriteTarget
{
    QString sourcePath;
    QString relativePath; // below the scanned folder
    QString targetPath;
    bool saveInSource = false;
    bool dryRun = false;
    // With saveInSource cleared, the files of the scan, none of which may be overwritten.
    const ScannedFileSet *sourceFiles = nullptr;
    // With saveInSource set, keeps each original before it is replaced; may be null.
    RunJournal *journal = nullptr;
    // The scanned folder (in place) or the save folder, held open; the file is written through
    // it at relativePath when given, never through a link.
    FileTree *tree = nullptr;
};

// The decision's turn: writes the new bytes to the target, creating its folder. In place, the
// file is replaced only while it is still the one that was read, and not when it is read-only.
// A group of one: see TextFileWriter.
FileOutcome FinishTextFile(FileDecision decision, const WriteTarget &target);

// Writes the changed files of a run in groups. Each file's new bytes go to a temporary file
// beside it; then the journal keeps the group's originals; then one flush per file system
// takes all of it to the disk; only then are the files renamed into place. So after a power
// cut every file is old or new, and each new one can be restored from the journal, at about
// the cost of one flush per group rather than one per file. A group's flush runs on another
// thread while the next group's temporaries are written, and the group is put in place once
// it has ended (at the latest when the next group is full). Outcomes reach `done` in the
// order the files were added, once their group is in place; each file is renamed just before
// its outcome is given. When `done` returns false (a stop) the files after it are not
// renamed, nor those of the group after: their temporaries and journal entries go, and
// `dropped` is called once.
class TextFileWriter
{
public:
    using Done = std::function<bool(const QString &nativePath, const FileOutcome &outcome)>;
    static constexpr int groupFiles = journalKeptAhead;
    // Large, so that the disk takes a tree of novels in a few long writes, each started as
    // its file is done, rather than waiting at a flush every few files; the temporaries are
    // on the disk, not in memory.
    static constexpr qint64 groupBytes = qint64(256) << 20;

    explicit TextFileWriter(Done done, std::function<void()> dropped = {});
    // Flushes and commits what is pending.
    ~TextFileWriter();
    TextFileWriter(const TextFileWriter &) = delete;
    TextFileWriter &operator=(const TextFileWriter &) = delete;

    // The decision's turn, as FinishTextFile; the target's journal and tree must outlive the
    // next flush().
    void add(const QString &nativePath, FileDecision decision, const WriteTarget &target);
    // Confirms, flushes and commits what is pending, and reports every outcome held.
    void flush();
    // Groups are put in place without waiting for the disk.
    void skipFlushes() { flushes = false; }
    // Each group is flushed and put in place before the next is written, which holds half as
    // many files open.
    void flushInTurn() { flushesAside = false; }

private:
    struct Held;
    struct Flushing;
    // The group gathered, full: the one before is put in place, and this one's flush begins.
    void sendGroup();
    // Keeps the originals of the group gathered and flushes it, on another thread or here.
    void startFlushing(bool inBackground);
    // Waits for the flushing group, renames its files into place and reports them.
    void putInPlace();

    // The folders of a group's files and of their kept originals, open while the group is.
    HeldFolders folders;
    std::vector<Held> held;
    std::unique_ptr<Flushing> flushing;
    Done done;
    std::function<void()> dropped;
    bool flushes = true;
    bool flushesAside = true;
    int pendingFiles = 0;
    qint64 pendingBytes = 0;
};
