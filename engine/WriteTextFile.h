#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with bytes in one step: a temporary file in the same folder is
// written and renamed over the target, which keeps its permissions. A target that is a
// symbolic link is written through (the link stays). False when any step fails; the old
// file, or none, is then left as it was, and no temporary file remains.
bool WriteTextFile(const QString &path, const QByteArray &bytes);
