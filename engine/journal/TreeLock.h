#pragma once

#include "engine/files/FileTree.h"

#include <QString>

// The lock of one source tree: every run, apply, conversion and undo that writes in the tree,
// from the window or the command line, of whichever user, holds it while it works, so that
// two never work on one tree at once; runs on different trees do. It is the file "lock" in
// the tree's journal folder, locked through the held folder: it belongs to the tree itself,
// not to an environment variable or to a user, and the system drops it when its holder ends,
// however it ends. A lock place that someone else could swap or hold (a link, another user's
// file or folder, a folder others may write in) is refused with its reason, never skipped.
class TreeLock
{
public:
    using Result = FileTree::LockResult;

    // Takes the lock of the tree at sourceDir, making the journal folder and the lock file
    // when missing; with wait, waits while another holds it. reason tells why when Refused.
    // A tree this user may not write in is theirs to read without a lock: Held, isHeld() false.
    Result take(const QString &sourceDir, bool wait, QString *reason);
    void release() { lock.release(); }
    bool isHeld() const { return lock.isHeld(); }

private:
    TreeFileLock lock;
};

extern const QString treeLockName; // "lock", in the journal folder

QString messageWaitingForTree(); // "等待另一个对此文件夹的操作结束…"
