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
    // another process holds the lock.
    bool acquire();
    void release();

private:
    std::string path;
#ifdef _WIN32
    void *handle = nullptr;
#else
    int fd = -1;
#endif
};

// True when a process holds the lock on `path`. On POSIX a process never sees its own lock,
// and asking drops any lock it holds on that file: ask only from a process that holds none.
bool RunLockHeld(const std::string &path);

// The lock file's name for this user, to be put in the user's temporary folder: the folder is
// shared between users on POSIX, so the name carries the user's id there.
std::string RunLockFileName();

} // namespace platform
