#pragma once

#include "engine/journal/RunJournal.h"
#include "engine/operations/FileHook.h"
#include "engine/run/Failure.h"

#include <QByteArray>
#include <QString>

struct FileTask
{
    QString sourcePath;
    bool writes = false; // changed files are written; otherwise the file is only tested
    bool detectUtf16 = false;
    bool withBom = false;
    bool journaled = false; // hash the original and the new bytes for the run's journal
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
};

// One file's decision, taken without touching anything on disk, so that it can be taken
// ahead of its turn on another thread.
struct FileDecision
{
    FileOutcome outcome;
    bool toWrite = false; // a changed file whose new bytes are to be written
    QByteArray newBytes;
    ReplacedContent replaced; // for a journaled task
};

// Reads the bytes, decides the encoding, settles the file from its bytes where the rule
// allows, otherwise decodes and applies the rule, and for a changed file that is written
// encodes the new text, provided that loses nothing.
FileDecision DecideTextFile(const FileTask &task, const FileRule &rule);

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
};

// The decision's turn: writes the new bytes to the target, creating its folder.
FileOutcome FinishTextFile(FileDecision decision, const WriteTarget &target);
