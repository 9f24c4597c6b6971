#pragma once

#include "engine/journal/Journal.h"

#include <QString>
#include <atomic>
#include <functional>
#include <optional>

// Undo of an in-place run from its journal. Each file is put back through a new file and a
// rename, and only when it still holds exactly what the run wrote: a later edit is never
// overwritten, also one that lands while undo works. Undo deletes no file and creates none
// that was not there after the run, but for the hidden temporaries of a killed run, which go,
// and what the run wrote, which the journal keeps (JournalRun::writtenRelative); it writes
// nothing outside the source folder whatever the journal says. Entries put back are recorded,
// so a later undo of the same run takes only the rest.

struct UndoFile
{
    enum Status
    {
        Restored,        // back as before the run (with a dry run: would be)
        AlreadyOriginal, // holds the original already: never replaced, or restored before
        Refused,         // changed or gone since the run, or its kept original is not whole
        Failed,          // could not be read or written
    };
    QString nativePath;
    Status status = Restored;
    QString reason; // for Refused and Failed
};

struct UndoResult
{
    QString runId;
    int restored = 0;
    int alreadyOriginal = 0;
    int notRestored = 0; // refused or failed
    bool stopped = false;
    int left = 0; // not tried because the undo was stopped
};

QString reasonChangedSinceRun(); // "修改后又被改动过,未恢复"
QString reasonGoneSinceRun();    // "文件已不存在,未恢复"
QString reasonOriginalLost();    // "撤销记录中的原文件缺失或已被改动,无法恢复"
QString reasonEntryInvalid();    // "撤销记录无效,未恢复"
QString messageNothingToUndo();  // "没有可撤销的修改", then which folder and why

// The run that undo takes: the one named by runId, otherwise the last one not undone yet.
// Empty with a message when there is none.
std::optional<JournalRun> FindUndoRun(const QString &sourceDir, const QString &runId,
                                      QString &message);

// Puts the run's files back, or with dryRun only tells what it would do. A run whose files
// are all back is marked undone, so the next undo takes the run before it. fileDone is
// called for every entry still to undo, in journal order; stop ends the undo after the file
// in hand. fileInHand (when given) is called with a file's native path once it is known to
// hold what the run wrote, before it is put back. Files are put back in groups, each taken
// to the disk by one flush before its renames, as a run writes them; a stopped undo finishes
// the group in hand.
UndoResult UndoRun(const QString &sourceDir, const JournalRun &run, bool dryRun,
                   const std::function<void(const UndoFile &)> &fileDone,
                   const std::atomic_bool *stop = nullptr,
                   const std::function<void(const QString &)> &fileInHand = nullptr);

// The entries of a run read with its entries that no undo has put back yet.
int UndoFilesLeft(const JournalRun &run);

// "撤销2026-12-07 10:30:12的“查找替换”(小云→小雲):恢复文件3个,已是原样0个,未恢复1个。",
// a stopped one followed by "(已停止,另有N个文件未恢复)".
QString UndoSummaryLine(const JournalRun &run, const UndoResult &result, bool dryRun);
