#pragma once

#include <QByteArray>
#include <QString>

// Whole-file reads and writes. Where a step fails, error (when given) receives the
// system's own words for it, such as "No space left on device".

// Reads a whole file. False when the file cannot be opened or read; bytes is then empty.
bool ReadFileBytes(const QString &path, QByteArray &bytes, QString *error = nullptr);

// Replaces the file at path with bytes in one step: a temporary file in the same folder is
// written and renamed over the target, which keeps its permissions. A target that is a
// symbolic link is written through (the link stays). False when any step fails; the old
// file, or none, is then left as it was, and no temporary file remains.
bool WriteTextFile(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// Creates the folder with every missing ancestor. True when a folder stands there afterwards;
// false when it cannot be made, for example because a file holds one of the names.
bool MakeFolderPath(const QString &path, QString *error = nullptr);
