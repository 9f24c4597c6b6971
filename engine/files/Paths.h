#pragma once

#include <QString>

// Path arithmetic and the questions the engine asks of paths on disk.

// The path with the system's own separators ('\\' on Windows), and back with '/'.
QString NativeSeparators(const QString &path);
QString FromNativeSeparators(const QString &path);
// The path made absolute against the working folder, "." and ".." removed; no link resolved.
QString AbsolutePath(const QString &path);

// Joins a folder and a file name with exactly one separator.
QString JoinPath(const QString &folder, const QString &name);

// Where an edited file goes: in place, or the save folder joined with the file's path
// relative to the scanned source folder. Native separators.
QString TargetPath(const QString &sourcePath, const QString &relativePath, const QString &saveDir,
                   bool saveInSource);

// True when the two paths name the same existing file, also through links.
bool IsSameFile(const QString &a, const QString &b);

// A folder exists when, after one trailing "/" or "\" is cut, a directory stands there.
bool FolderExists(const QString &path);
// True also for a symbolic link whose target is gone.
bool FileExists(const QString &path);
// Compares two folders as real paths, so D:/a/ and D:/a are the same.
bool SameFolder(const QString &a, const QString &b);
// True when `inner` lies below `outer`, compared as real paths; a folder that does not exist
// yet counts where it would be made.
bool FolderInside(const QString &inner, const QString &outer);
