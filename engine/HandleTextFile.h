#pragma once

#include "FileHook.h"

#include <QString>

struct FileTask
{
    QString sourcePath;
    QString targetPath; // empty: the file is only tested, never written
    bool detectUtf16 = false;
    bool withBom = false;
    bool saveInSource = false;
    bool dryRun = false;
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
    QString reason; // for Failed
    qint64 bytes = 0;
};

// One file's turn: read the bytes, decide the encoding, decode, apply the hook, and for a
// changed file encode and write it, provided that loses nothing.
FileOutcome HandleTextFile(const FileTask &task, const FileHook &hook);
