#pragma once

#include <QString>

class Console;
class TreeLock;

// Takes the lock of the tree at source for a command that writes in it (TreeLock). While
// another operation holds it, waits, saying so once on stderr, or with noWait ends at once.
// 0 when the lock is held, else the exit status to end with: ExitBusy, or ExitFailure for a
// lock place that cannot be trusted.
int LockSourceTree(const QString &source, bool noWait, Console &console, TreeLock &lock);
