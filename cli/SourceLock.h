#pragma once

#include <QString>
#include <atomic>

class Console;
class TreeLock;

// Takes the lock of the tree at source for a command that writes in it (TreeLock). While
// another operation holds it, waits, saying so once on stderr, or with noWait ends at once.
// Taken once the command's own checks have passed, so that a refused command writes nothing.
// 0 when the lock is held, else the exit status to end with: ExitBusy, ExitInterrupted when
// Ctrl-C ended the wait, or ExitFailure for a lock place that cannot be trusted.
int LockSourceTree(const QString &source, bool noWait, Console &console, TreeLock &lock,
                   const std::atomic_bool &interrupted);
