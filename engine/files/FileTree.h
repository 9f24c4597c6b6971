#pragma once

#include "engine/files/FileIo.h"
#include "engine/files/FileSystem.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace platform {
class AppendFile;
class File;
class FileLock;
class Folder;
class PendingReplace;
class HeldParents;
} // namespace platform

// A file made to grow at its end only, such as a list written a line at a time.
class AppendedFile
{
public:
    AppendedFile();
    ~AppendedFile();
    AppendedFile(AppendedFile &&) noexcept;
    AppendedFile &operator=(AppendedFile &&) noexcept;

    bool isOpen() const;
    // All of bytes at the end; a failure may leave part of them there.
    bool append(const QByteArray &bytes, QString *error);
    // What was appended reaches the disk.
    bool flush(QString *error);

private:
    friend class FileTree;
    std::unique_ptr<platform::AppendFile> file;
};

// A replacement whose new bytes wait in a temporary file beside the file it replaces
// (FileTree::prepareInPlace, prepareFile). confirm() once nothing stands in its way, which
// calls the last step before it (the journal's keeping of the original); commit() once
// FileTree::flushWrites has taken it and what it depends on to the disk. Dropped, its
// temporary removed, unless committed.
class PendingWrite
{
public:
    PendingWrite();
    ~PendingWrite();
    PendingWrite(PendingWrite &&) noexcept;
    PendingWrite &operator=(PendingWrite &&) noexcept;
    PendingWrite(const PendingWrite &) = delete;
    PendingWrite &operator=(const PendingWrite &) = delete;

    bool isPending() const;
    // Results as FileTree::replaceInPlace gives them.
    FileIoResult confirm(const BeforeReplace &beforeReplace, QString *error);
    FileIoResult commit(QString *error);
    void drop();

private:
    friend class FileTree;
    std::unique_ptr<platform::PendingReplace> pending;
};

// While one lives on a thread, the folders of the files that thread reads, writes or keeps
// through a tree stay open for the next file in them, which is then opened there by its name
// (platform::HeldParents). A worker makes one for each stretch of files it reads in scan
// order, and the writer one that it releases after each group, so that a folder is held no
// longer than that. Made on the stack or as a member of an object that is, with a plain
// thread_local pointer to it, as StreamBufferKeeper is; they end in the order they began.
class HeldFolders
{
public:
    HeldFolders();
    ~HeldFolders();
    HeldFolders(const HeldFolders &) = delete;
    HeldFolders &operator=(const HeldFolders &) = delete;

    // Closes what it holds.
    void release();
    // What the thread's innermost one holds; none without one.
    static platform::HeldParents *current();
    // What the thread's ones hold beneath top goes with it.
    static void forget(const platform::Folder *top);

private:
    HeldFolders *outer = nullptr; // the thread's one before this one
    std::unique_ptr<platform::HeldParents> held;
};

// A file of a tree read a piece at a time, never through a link, so that a file of any size
// is searched in the memory of one piece (FileTree::openRead).
class StreamedRead
{
public:
    StreamedRead();
    ~StreamedRead();
    StreamedRead(StreamedRead &&) noexcept;
    StreamedRead &operator=(StreamedRead &&) noexcept;

    bool isOpen() const;
    // What the file was when it was opened.
    const FileIdentity &identity() const { return measured; }
    // Up to size bytes on from the last read; got is 0 at the end. Changed when the file
    // gives more or fewer bytes than it measured when it was opened.
    FileIoResult read(char *data, qint64 size, qint64 &got, QString *error);
    // Back to the first byte.
    FileIoResult rewind(QString *error);
    // The whole file from its first byte, as FileTree::readFile reads it.
    FileIoResult readWhole(const SourceRead &how, QByteArray &bytes, QString *error);

private:
    friend class FileTree;
    std::unique_ptr<platform::File> file;
    FileIdentity measured;
    qint64 total = 0;
    bool atMeasuredEnd = false; // the next read gives nothing without asking the system
};

// A lock on one file of a tree (FileTree::lockFile): no two holders, in one process or in
// two, of one user or of two, have it at once, and the system drops it when its holder ends,
// however it ends.
class TreeFileLock
{
public:
    TreeFileLock();
    ~TreeFileLock();
    TreeFileLock(TreeFileLock &&) noexcept;
    TreeFileLock &operator=(TreeFileLock &&) noexcept;

    bool isHeld() const;
    void release();

private:
    friend class FileTree;
    std::unique_ptr<platform::FileLock> lock;
};

// What a file's entry says about it: its size, modification time and permission bits.
struct FileStamp
{
    qint64 size = -1;
    qint64 modifiedNs = 0; // nanoseconds since 1970-01-01 UTC
    uint mode = 0;         // permission bits; 0444 or 0666 on Windows
};

// A folder the program was given (source, save folder, journal), held open by handle. Every
// path below it is relative and '/'-separated; it is resolved beneath the held folder and
// never follows a link or ".." out of it: an absolute path, an empty, "." or ".." component,
// or a link on the way is refused, with the system's words (ELOOP for a link) or a fixed
// text for a path that leaves the folder. An empty relative path names the top itself where
// a call reads; calls that make or remove an entry need a name.
//
// Everything under such a folder may have been planted by someone else, so nothing here
// writes through a link, descends through one, or leaves the tree by one.
class FileTree
{
public:
    // The top itself is where the user pointed: links on the way to it are followed.
    explicit FileTree(const QString &topPath);
    ~FileTree();
    FileTree(FileTree &&) noexcept;
    FileTree &operator=(FileTree &&) = delete;
    FileTree(const FileTree &) = delete;
    FileTree &operator=(const FileTree &) = delete;

    bool isOpen() const;
    // The system's words when the top could not be opened.
    QString error() const;
    QString topPath() const { return top; }

    enum class Kind
    {
        Missing,
        File,
        Folder,
        Link,
        Other, // a pipe, device or socket
    };
    // What stands at relative; a link is reported as a link, never followed. Missing also
    // when the path is not valid or its folders cannot be reached.
    Kind kind(const QString &relative) const;

    // A lexical check only: not absolute, no empty, "." or ".." component, no ':' on Windows,
    // where '\\' separates names as '/' does. The empty path (the top) is valid.
    static bool IsValidRelative(const QString &relative);

    // Reads a whole file; a link in its place is refused. identity (when given) receives what
    // the file was when it was opened.
    FileIoResult readFile(const QString &relative, QByteArray &bytes, FileIdentity *identity,
                          QString *error) const;
    // The same with a size limit and a hook before allocating, as ReadSourceFile.
    FileIoResult readFile(const QString &relative, const SourceRead &how, QByteArray &bytes,
                          FileIdentity *identity, QString *error) const;

    // Opens a file to be read a piece at a time; a link in its place is refused.
    FileIoResult openRead(const QString &relative, StreamedRead &file, QString *error) const;

    // The folder's entries, unsorted; links reported as FolderEntry::Link, never entered.
    // Empty, with the reason in error, when the folder cannot be opened or read.
    std::vector<FolderEntry> list(const QString &relative, QString *error) const;

    // Private: folders 0700, files 0600 on POSIX; Shared: as the umask allows.
    enum class Access
    {
        Shared,
        Private,
    };

    // Makes the folder and its missing ancestors. True when a folder (not a link) stands
    // there afterwards.
    bool makeFolder(const QString &relative, Access access, QString *error);
    // A new file, exclusively: an existing name, or a link in its place, is refused. It
    // appears whole or not at all; durable: its bytes reach the disk before it is named.
    bool writeNewFile(const QString &relative, const QByteArray &bytes, Access access,
                      QString *error, bool durable = false);
    // A new, empty file to append to, exclusively: an existing name, or a link in its place,
    // is refused.
    bool createAppendedFile(const QString &relative, Access access, AppendedFile &file,
                            QString *error);
    // Replaces the file, or makes it, through a temporary file in its folder and a rename. A
    // link at the target is refused, never written through. The new file keeps the replaced
    // one's mode, owner and group (where the writer may set them), ACLs and extended
    // attributes.
    // durable: the new bytes reach the disk before the rename.
    bool replaceFile(const QString &relative, const QByteArray &bytes, QString *error,
                     bool durable = false);
    // Replaces a source file in place as ReplaceInPlace does: Changed when the entry is no
    // longer the file as read, ReadOnly when its user may not write it, HardLinked when it has
    // more than one name, Refused when beforeReplace says no. Keeps the file's metadata as
    // replaceFile does.
    FileIoResult replaceInPlace(const QString &relative, const QByteArray &bytes,
                                const FileIdentity &asRead, const BeforeReplace &beforeReplace,
                                QString *error, bool durable = false);

    // The first halves of replaceInPlace and replaceFile: the checks, and the new bytes in a
    // temporary file beside the file, to be confirmed and committed later. Many are flushed
    // to the disk at once by flushWrites.
    FileIoResult prepareInPlace(const QString &relative, const QByteArray &bytes,
                                const FileIdentity &asRead, PendingWrite &pending, QString *error);
    bool prepareFile(const QString &relative, const QByteArray &bytes, PendingWrite &pending,
                     QString *error);
    // A new content handed over a piece at a time: it calls write for each piece (false when
    // the write failed) and returns Done, or why it stopped (Changed, or Failed with error).
    using ContentWrite = std::function<bool(const char *data, qint64 size)>;
    using StreamedContent = std::function<FileIoResult(const ContentWrite &write, QString *error)>;
    // prepareInPlace and prepareFile with such a content, so that no file's new bytes are
    // held whole; results as prepareInPlace gives them.
    FileIoResult prepareInPlace(const QString &relative, const StreamedContent &content,
                                const FileIdentity &asRead, PendingWrite &pending, QString *error);
    FileIoResult prepareFile(const QString &relative, const StreamedContent &content,
                             PendingWrite &pending, QString *error);
    // Takes what was written in this tree's file system to the disk. Where that cannot be
    // done for a whole file system at once (flushCoversFiles false), each prepared write
    // flushed its own bytes, and a file written for a group should be written durable.
    bool flushWrites(QString *error);
    static bool flushCoversFiles();
    // Whether flushWrites comes before the prepared writes' renames: with it, each prepared
    // file sets off for the disk at once, so that the flush waits for less.
    void setFlushedInGroups(bool flushed) { flushedInGroups = flushed; }

    // A hard link `to` to the file `from`, exclusively; a link at from is refused. False
    // where the file system has no hard links.
    bool linkFile(const QString &from, const QString &to, QString *error);
    // A copy of the file `from` under the new name `to`, exclusively, with from's mode; a
    // partial copy is removed. durable: its bytes reach the disk before it is named.
    bool copyFile(const QString &from, const QString &to, QString *error, bool durable = false);
    // Renames within the tree; an entry at `to` is replaced as rename() does, a link there as
    // a link. No link on either way is followed.
    bool rename(const QString &from, const QString &to, QString *error);
    // Removes a file, or a link as a link.
    bool removeFile(const QString &relative, QString *error);
    // Removes a folder and everything below it without descending through a link; a link
    // at relative itself is removed as a link.
    bool removeTree(const QString &relative, QString *error);
    // Sets the modification time and the permission bits back, no link followed.
    bool setStamp(const QString &relative, const FileStamp &stamp, QString *error);
    // The size, modification time and mode of the entry itself, no link followed; false
    // when nothing (or no file or folder) stands there.
    bool readStamp(const QString &relative, FileStamp &stamp) const;

    enum class LockResult
    {
        Held,
        Busy,    // another holds it, and the caller would not wait
        Refused, // the file, or its folder, cannot be trusted or reached: error tells why
    };
    // Locks the file at relative, made private when missing, as platform::Folder::lockFile
    // does: a file or folder that someone other than this user, the administrator or the
    // top's owner could swap, a link, a file with several names, or anything but a plain file
    // is refused. With wait, waits while another holds it.
    LockResult lockFile(const QString &relative, bool wait, TreeFileLock &lock,
                        QString *error) const;

    // The same tree, by the path it was opened at, joined with relative (native separators
    // not applied); for messages.
    QString pathOf(const QString &relative) const;

private:
    QString top;
    QString failure;
    std::unique_ptr<platform::Folder> folder;
    bool flushedInGroups = true;
};
