#pragma once

#include "platform/NativePath.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A folder held open by handle, and single-name operations relative to it. A name is one
// path component: not empty, not "." or "..", no separator. A relative path is names joined
// by '/' (or '\\' on Windows). Nothing here follows a link: a link met on the way or in the final
// place is refused (ELOOP on POSIX, ERROR_CANT_RESOLVE_FILENAME on Windows), or handled as the link
// itself where a call says so. Every call returns 0 or the system's error code (errno,
// GetLastError), or one of the refusals below.
namespace platform {

// Refusals that are no system error.
enum : int
{
    ErrorChanged = -1,       // the entry is no longer the one measured
    ErrorReadOnly = -2,      // its user may not write it
    ErrorRefused = -3,       // the caller's check before the rename said no
    ErrorHardLinked = -4,    // the file has more than one name; a replacement would split them
    ErrorNotBeneath = -5,    // an absolute path, or a "." or ".." component
    ErrorNotOpen = -6,       // the folder is not open
    ErrorNotFolder = -7,     // a file or link holds a folder's name
    ErrorBusy = -8,          // another holder has the lock
    ErrorNotFile = -9,       // a folder, pipe or device holds a file's name
    ErrorOtherOwner = -10,   // it belongs to a user the caller does not trust with it
    ErrorOpenToOthers = -11, // users other than its owner may write in it
};

// The entry is not there (ENOENT, ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND).
bool IsMissing(int code);
// An entry of that name is there already (EEXIST, ERROR_ALREADY_EXISTS, ERROR_FILE_EXISTS).
bool IsExisting(int code);

// The system's words for an error code, as the system gives them (locale bytes on POSIX,
// UTF-16 on Windows); fixed English words for the refusals above.
NativePath ErrorText(int code);

// True for a name that stays in its folder: not empty, ".", "..", and holding no separator
// ('/', and on Windows also '\\' and ':').
bool IsPlainName(const NativePath &name);
// True for names joined by the system's separators ('/', and on Windows also '\\'), each of
// them plain: what the Folder calls below take as a relative path.
bool IsPlainRelative(const NativePath &relative);

enum class EntryKind
{
    Missing,
    File,
    Folder,
    Link, // a symbolic link; on Windows also a junction or mount point
    Other,
};

struct EntryInfo
{
    EntryKind kind = EntryKind::Missing;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0; // nanoseconds since 1970-01-01 UTC
    std::uint32_t mode = 0;      // permission bits (POSIX); 0444 or 0666 on Windows
    std::uint64_t links = 1;     // hard links
};

struct ListedEntry
{
    NativePath name;
    EntryKind kind = EntryKind::Missing;
};

class Folder;
class PendingReplace;

// An open file for reading, never a link.
class File
{
public:
    File() = default;
    ~File();
    File(File &&other) noexcept;
    File &operator=(File &&other) noexcept;
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    // The file at path, where the user pointed: links on the way are followed, the last
    // name only when followLast. A pipe or device there is refused without blocking.
    static int Open(const NativePath &path, bool followLast, File &file);

    bool isOpen() const;
    // What the file was when it was opened.
    int info(EntryInfo &info) const;
    // Reads up to size bytes; got is 0 at the end of the file.
    int read(char *data, std::size_t size, std::size_t &got);
    // Back to the first byte, for a second pass over the file.
    int rewind();

private:
    friend class Folder;
#ifdef _WIN32
    void *handle = nullptr;
#else
    // Takes an open descriptor: refuses anything but a plain file, and measures it once.
    int adopt(int newFd);
    int fd = -1;
    EntryInfo opened; // the file when it was opened
#endif
};

// A file made by this program that only grows, such as a list written a line at a time.
class AppendFile
{
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(AppendFile &&other) noexcept;
    AppendFile &operator=(AppendFile &&other) noexcept;
    AppendFile(const AppendFile &) = delete;
    AppendFile &operator=(const AppendFile &) = delete;

    bool isOpen() const;
    // Writes all of data at the end; a failure may leave part of it there.
    int append(const char *data, std::size_t size);
    // What was appended reaches the disk.
    int flush();

private:
    friend class Folder;
#ifdef _WIN32
    void *handle = nullptr;
#else
    int fd = -1;
#endif
};

// How a file that replaces another keeps what the other was.
struct ReplaceCheck
{
    bool checkIdentity = false; // the entry must still be `expected` (device, inode, size, time)
    EntryInfo expected;
    bool refuseReadOnly = false;   // ErrorReadOnly for a file its user may not write
    bool refuseHardLinked = false; // ErrorHardLinked for a file with more than one name
    // The last step before the rename, under a lock on the file; false refuses it.
    std::function<bool()> beforeRename;
    // The caller flushes the writes (FlushWrites) before the rename.
    bool flushFollows = true;
};

// A replacement written to its temporary file but not yet named: prepared, then confirmed,
// then (after the writes it depends on have reached the disk) committed. Dropped, its
// temporary removed, unless committed.
class PendingReplace
{
public:
    PendingReplace();
    ~PendingReplace();
    PendingReplace(PendingReplace &&other) noexcept;
    PendingReplace &operator=(PendingReplace &&other) noexcept;
    PendingReplace(const PendingReplace &) = delete;
    PendingReplace &operator=(const PendingReplace &) = delete;

    bool isPending() const;
    // Locks the file, checks that it is still the one measured, then calls beforeRename, or
    // the check's where none is given; ErrorRefused when that says no.
    int confirm(const std::function<bool()> &beforeRename = nullptr);
    // Checks the file again and renames the temporary over it.
    int commit();
    // Removes the temporary; the file stays as it is.
    void drop();

    struct State;

private:
    friend class Folder;
    State *state = nullptr;
};

// A lock on a file, held until released or until the process ends, however it ends; no two
// holders, in one process or in two, of one user or of two, have one file's lock at once.
class FileLock
{
public:
    FileLock() = default;
    ~FileLock();
    FileLock(FileLock &&other) noexcept;
    FileLock &operator=(FileLock &&other) noexcept;
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    bool isHeld() const;
    void release();

private:
    friend class Folder;
#ifdef _WIN32
    void *handle = nullptr;
#else
    int fd = -1;
#endif
};

class HeldParents;

class Folder
{
public:
    Folder() = default;
    ~Folder();
    Folder(Folder &&other) noexcept;
    Folder &operator=(Folder &&other) noexcept;
    Folder(const Folder &) = delete;
    Folder &operator=(const Folder &) = delete;

    // The folder at path, where the user pointed: links on the way to it are followed.
    static int Open(const NativePath &path, Folder &folder);

    bool isOpen() const;
    // A second handle on the same folder.
    int duplicate(Folder &copy) const;

    // The folder at a relative path beneath this one, no link followed. An empty path is this
    // folder itself.
    int openBeneath(const NativePath &relative, Folder &folder) const;
    // One sub-folder by name, no link followed unless followLink.
    int openChild(const NativePath &name, Folder &folder, bool followLink = false) const;

    // The entry itself, a link not followed unless followLink; an empty name is this folder.
    // Missing is 0 with kind Missing.
    int info(const NativePath &name, EntryInfo &info, bool followLink = false) const;
    // Every entry but "." and "..", links as links, unsorted.
    int list(std::vector<ListedEntry> &entries) const;

    int openFile(const NativePath &name, File &file) const;
    // The file at a relative path beneath this folder, no link followed on the way or at the
    // end: one call where the system resolves a whole path beneath a folder. With held, the
    // file's folder is taken from it (HeldParents::open) and the file opened there by name.
    int openFileBeneath(const NativePath &relative, File &file, HeldParents *held = nullptr) const;

    int makeFolder(const NativePath &name, std::uint32_t mode);
    // A new file holding data, under a name that must not exist yet (a link there counts);
    // it appears whole or not at all. durable: its data reaches the disk before it is named.
    int writeNewFile(const NativePath &name, const char *data, std::size_t size, std::uint32_t mode,
                     bool durable);
    // A new, empty file to append to, under a name that must not exist yet (a link there
    // counts).
    int createAppendFile(const NativePath &name, std::uint32_t mode, AppendFile &file);
    // A copy of the file `from` in this folder, under the new name `to` in `target`.
    // durable: its data reaches the disk before it is named.
    int copyFile(const NativePath &from, Folder &target, const NativePath &to,
                 bool durable = false);
    // Replaces the file name, or creates it, through a temporary file in this folder and a
    // rename. A link or folder at name is refused. The new file keeps the replaced file's
    // mode, owner and group where the writer may set them, ACLs and extended attributes; a
    // failure to carry those refuses the write.
    // durable: the new data reach the disk before the rename.
    int replaceFile(const NativePath &name, const char *data, std::size_t size,
                    const ReplaceCheck &check, bool durable = false);
    // The first half of replaceFile: the checks and the temporary, written and given the
    // replaced file's metadata; the standing file is held open. Where FlushWrites does not
    // reach every file of the folder's file system (see FlushCoversFiles), the temporary's
    // data are flushed here.
    int prepareReplace(const NativePath &name, const char *data, std::size_t size,
                       const ReplaceCheck &check, PendingReplace &pending);
    // The same with the data handed over a piece at a time: content calls write for each
    // piece and returns 0, or the first failure, write's or its own.
    using Write = std::function<int(const char *data, std::size_t size)>;
    using Content = std::function<int(const Write &write)>;
    int prepareReplace(const NativePath &name, const Content &content, const ReplaceCheck &check,
                       PendingReplace &pending);
    // replaceFile with the data handed over a piece at a time, as prepareReplace takes them.
    int replaceFile(const NativePath &name, const Content &content, const ReplaceCheck &check,
                    bool durable = false);

    int link(const NativePath &from, Folder &target, const NativePath &to);
    // Replaces an entry named to as rename() does (a link there is replaced, not followed).
    int rename(const NativePath &from, Folder &target, const NativePath &to);
    int removeFile(const NativePath &name);
    // Removes the folder name and all below it; a link inside is removed as a link.
    int removeTree(const NativePath &name);
    // Modification time and permission bits, no link followed.
    int setStamp(const NativePath &name, std::int64_t modifiedNs, std::uint32_t mode);
    // Locks the file name, made private when missing, no link followed. Whoever may write in
    // this folder could swap the file for another and so let two holders in: the folder and
    // the file must belong to this user, the system's administrator or the owner of `top`,
    // and the folder must be closed to others' writing (ErrorOtherOwner, ErrorOpenToOthers);
    // a file with several names is refused (ErrorHardLinked), as is anything but a plain
    // file (ErrorNotFile). ErrorBusy without wait while another holds the lock; with wait,
    // waits for it.
    int lockFile(const NativePath &name, const Folder &top, bool wait, FileLock &lock) const;

private:
    friend int FlushWrites(const Folder &folder);
#ifdef _WIN32
    void *handle = nullptr;
    NativePath path; // the full path it was opened at, for the calls that take names
#else
    int fd = -1;
#endif
};

// The folders beneath a top that files were last opened or named in, the last few kept open.
// Files come folder by folder, so the next one is mostly opened by its name in a folder held,
// not by its whole path from the top: one name for the system to look up instead of every
// folder on the way. A few, for calls between two folders, such as keeping a file's original
// in the journal's folder.
class HeldParents
{
public:
    // The folder at relative beneath top, opened as top.openBeneath opens it, or the one held
    // for it; it stays valid until the next call opens another or release().
    int open(const Folder &top, NativePathView relative, Folder *&folder);
    void release();
    // Closes what is held beneath top, which is going: another may be made at its address.
    void forget(const Folder &top);

private:
    struct Held
    {
        const Folder *top = nullptr; // none while nothing is held
        NativePath path;
        Folder folder;
        unsigned lastUse = 0;
    };
    Held held[4];
    unsigned uses = 0;
};

// Takes to the disk what was written in the folder's file system: every file, name and link
// where FlushCoversFiles (Linux's syncfs), otherwise the names alone, each file that must
// survive a power cut being flushed by itself when it is written.
int FlushWrites(const Folder &folder);
bool FlushCoversFiles();

// Calls on a path the user gave: links on the way are followed, the last name's only where
// followLast says so.
int PathInfo(const NativePath &path, bool followLast, EntryInfo &info);
// The path with every link resolved and "." and ".." removed.
int RealPath(const NativePath &path, NativePath &real);
// What a symbolic link holds, as it is written in it.
int LinkTarget(const NativePath &path, NativePath &target);
// Removes a file, or a link as a link.
int RemoveEntry(const NativePath &path);
// Makes one folder in an existing parent.
int MakeOneFolder(const NativePath &path, std::uint32_t mode);
// 0 when the user may make files in the folder at path (links followed), else why not: its
// permissions, its ACL, a read-only file system. A folder that grants writing to nobody
// counts as read-only also for root, as a file does.
int MayWriteFolder(const NativePath &path);
// 0 unless the file at path (not followed) is read-only as a rewrite in place would find it:
// by its permission bits or the system's say on POSIX, by its attribute on Windows.
int MayWriteFile(const NativePath &path);

// The folder part and the last name of a path (either separator on Windows).
void SplitPath(const NativePath &path, NativePath &folder, NativePath &name);

// Whether c separates path names here ('/', and '\\' on Windows), and whether paths compare
// without case.
bool IsSeparator(char32_t c);
bool PathsIgnoreCase();

} // namespace platform
