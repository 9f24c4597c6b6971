#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

// Whole-file reads and writes. Where a step fails, error (when given) receives the
// system's own words for it, such as "No space left on device".

// What a file was when it was read; a write in its place checks that it still is.
struct FileIdentity
{
    qint64 device = 0;
    qint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;

    bool operator==(const FileIdentity &other) const;
    bool operator!=(const FileIdentity &other) const { return !(*this == other); }
};

enum class FileIoResult
{
    Done,
    Failed,     // a system call failed; error holds its words
    TooLarge,   // more bytes than the reader allowed
    Changed,    // the file is not, or no longer, the one that was measured or read
    ReadOnly,   // its user may not write it
    Refused,    // the caller's last step before the rename said no; error holds its reason
    HardLinked, // the file has more names than one; replacing it would split them
};

struct SourceRead
{
    qint64 sizeLimit = 0;
    // Called with the file's size before anything is allocated for it; may wait for memory.
    std::function<void(qint64 size)> beforeAllocating;
};

// Reads a source file of the scan whole. A link standing in its place is not followed, since
// the scan left links to files out. TooLarge for more than sizeLimit bytes, before anything is
// allocated; Changed when the read gives more or fewer bytes than the file's size said.
// identity (when given) receives what the file was when it was opened, its size also when the
// read then fails as TooLarge or Changed.
FileIoResult ReadSourceFile(const QString &path, const SourceRead &how, QByteArray &bytes,
                            FileIdentity *identity, QString *error = nullptr);

// Reads a whole file, following links. False when the file cannot be opened or read; bytes
// is then empty.
bool ReadFileBytes(const QString &path, QByteArray &bytes, QString *error = nullptr);

// Reads a file a piece at a time, following links, and hands it to take a line at a time,
// without its line feed; ended tells whether one ended it (only the last may lack it).
// TooLarge for a file of more than sizeLimit bytes (before anything is read) or a line longer
// than a byte array holds; Refused when take returned false; Failed, with the system's words
// in error, when a read failed.
using LineTake = std::function<bool(const QByteArray &line, bool ended)>;
FileIoResult ReadFileLines(const QString &path, qint64 sizeLimit, const LineTake &take,
                           QString *error = nullptr);

// Replaces the file at path with bytes in one step: a temporary file in the same folder is
// written and renamed over the target, which keeps its permissions, owner, ACLs and extended
// attributes. A target that is a symbolic link is refused, never written through. False when
// any step fails; the old file, or none, is then left as it was, and no temporary file
// remains.
bool WriteTextFile(const QString &path, const QByteArray &bytes, QString *error = nullptr);
// The same with the bytes given in parts, written one after the other: a large file made of
// many pieces need not be put together in memory first.
bool WriteTextFile(const QString &path, const std::vector<QByteArray> &parts,
                   QString *error = nullptr);
// The same with the bytes handed to write as content makes them, small pieces gathered into
// runs: a file that is the output of a long task is written while the task goes on. Nothing
// is replaced when content returns false or a write fails (write then returns false and
// takes no more).
using PieceWrite = std::function<bool(const char *data, qint64 size)>;
bool WriteTextFile(const QString &path, const std::function<bool(const PieceWrite &write)> &content,
                   QString *error = nullptr);

// The last step before a file is replaced in place, once it is known to be the file as read;
// false, with the reason in error, keeps it from being replaced.
using BeforeReplace = std::function<bool(QString *error)>;

// Replaces a source file in place, like WriteTextFile, but renames over the very entry that
// was read and never writes through a link. Changed, and nothing written, when that entry is
// no longer the file as read (asRead); ReadOnly when its user may not write it; HardLinked
// when it has more than one name, which a replacement would split.
FileIoResult ReplaceInPlace(const QString &path, const QByteArray &bytes,
                            const FileIdentity &asRead, const BeforeReplace &beforeReplace,
                            QString *error = nullptr);

// Removes a temporary file that a write of this program left behind when it was killed
// between naming a new content and the rename. True when path was one and is gone; one whose
// writer still runs is left alone.
bool RemoveStaleTemporary(const QString &path);
// Whether a name is that of such a temporary, its writer gone.
bool IsStaleTemporaryName(const QString &name);

// Creates the folder with every missing ancestor. True when a folder stands there afterwards;
// false when it cannot be made, for example because a file holds one of the names.
bool MakeFolderPath(const QString &path, QString *error = nullptr);
