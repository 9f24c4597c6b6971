#pragma once

#include <QString>
#include <QStringList>

// Reads the text files that the command line takes its longer texts from. Each returns
// false and sets error when the file cannot be read, is larger than inputFileLimit or is
// not text in an encoding the tree's files may have (UTF-8, GBK, GB18030, UTF-16 by its mark).

// Far beyond any list of search texts; it keeps the whole text and its copies in memory.
constexpr int inputFileLimit = 16 << 20;

// One entry per line; CR LF or LF; a final line break ends the last line and adds no
// empty entry, so an empty file gives no entries.
bool ReadLineListFile(const QString &path, QStringList &lines, QString &error);

// The whole file as one text, CR LF turned into LF.
bool ReadWholeTextFile(const QString &path, QString &text, QString &error);
