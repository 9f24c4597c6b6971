#pragma once

#include <QByteArray>
#include <QString>

// Reads a whole file with one read call into bytes. False when the file cannot be opened or
// read; bytes is then empty.
bool ReadFileBytes(const QString &path, QByteArray &bytes);
