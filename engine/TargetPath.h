#pragma once

#include <QString>

// Where an edited file goes: in place, or the save folder joined with the file's path
// relative to the scanned source folder. Native separators.
QString TargetPath(const QString &sourcePath, const QString &relativePath, const QString &saveDir,
                   bool saveInSource);

// True when the two paths name the same existing file, also through links.
bool IsSameFile(const QString &a, const QString &b);
