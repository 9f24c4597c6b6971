#pragma once

#include <QString>
#include <QStringList>

// Which files of a tree a run takes, by name: patterns with "*" (any run of characters) and
// "?" (one character), in any letter case, such as "*.txt;*.srt;!*备份*;!.git". A pattern
// after "!" leaves out the files and the folders of that name; a folder left out is not
// entered. Without a pattern to take, "*.txt" is taken.
class FileMasks
{
public:
    FileMasks(); // "*.txt"

    // The patterns of a field, cut at ";" (or "；"); blanks around each are taken off. False,
    // with the pattern at fault in error, for one that holds a path separator.
    bool parse(const QString &text, QString *error = nullptr);
    // The same from the command line's lists, each entry itself cut at ";".
    bool parse(const QStringList &includes, const QStringList &excludes, QString *error = nullptr);

    bool takesFile(const QString &name) const;
    bool entersFolder(const QString &name) const;
    // Something is left out: folder names must be asked about.
    bool excludesAny() const { return !excludes.isEmpty(); }
    // The patterns as a field shows them, the default one included.
    QString text() const;

private:
    bool add(const QString &pattern, bool exclude, QString *error);

    QStringList includes; // folded to one letter case
    QStringList excludes;
    bool onlyTxt = true; // the common case, answered without a pattern
};

QString messageBadFileMask(); // "文件类型只能是文件名的通配符(如*.txt;!*备份*),不能含有“/”或“\”:"

// "*" and "?" matched against name, letter case folded; pattern is folded already.
bool MatchesFileMask(const QString &pattern, const QString &name);
