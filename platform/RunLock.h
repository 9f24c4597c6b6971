#pragma once

#include <string>

// Tells a busy copy of the program from an idle one: the copy that is in the middle of a run
// holds a lock on a file that all copies of one user agree on. The system drops the lock when
// the holder ends, however it ends. Paths are in the system's file name encoding; UTF-8 on
// Windows.
namespace platform {

class RunLock
{
public:
    explicit RunLock(std::string path);
    ~RunLock();
    RunLock(const RunLock &) = delete;
    RunLock &operator=(const RunLock &) = delete;

    // Takes the lock, making the file when needed. False when the file cannot be opened or
    // another process holds the lock; heldElsewhere() tells which.
    bool acquire();
    void release();
    // The last acquire failed because another process holds the lock.
    bool heldElsewhere() const { return busy; }

private:
    std::string path;
    bool busy = false;
#ifdef _WIN32
    void *handle = nullptr;
#else
    int fd = -1;
#endif
};

// True when a process holds the lock on `path`. On POSIX a process never sees its own lock,
// and asking drops any lock it holds on that file: ask only from a process that holds none.
bool RunLockHeld(const std::string &path);

// The lock file's name for this user.
std::string RunLockFileName();

// This user's lock file, in a folder that no other user can plant or write: on POSIX
// $XDG_RUNTIME_DIR when it is this user's with mode 0700, else the folder parafold-<uid> in
// the temporary folder ($TMPDIR or /tmp), made 0700 and taken only when it is a real folder
// of this user's that no one else may enter; on Windows the user's own temporary folder.
// Empty, with the reason in `reason`, when there is no such folder.
std::string RunLockPath(std::string &reason);

// The same with `temporaryFolder` for the temporary folder and no $XDG_RUNTIME_DIR.
std::string RunLockPathIn(const std::string &temporaryFolder, std::string &reason);

} // namespace platform
