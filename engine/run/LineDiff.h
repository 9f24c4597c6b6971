#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

// A text cut into lines at each line feed; the last line may lack one.
struct TextLines
{
    QStringList lines;
    bool lastEnded = true; // the text ends with a line feed, or is empty

    static TextLines of(const QString &text);
};

struct DiffLine
{
    enum Kind
    {
        Same,
        Removed,
        Added,
    };
    Kind kind = Same;
    QString text;
    bool ended = true; // false for a last line without a line feed
    QByteArray utf8;   // the text as UTF-8 instead, where the diff is made for UTF-8 only
};

// Lines numbered from 1; a count of 0 puts the start before the line it names, as
// unified diffs do.
struct DiffHunk
{
    int oldStart = 0;
    int oldCount = 0;
    int newStart = 0;
    int newCount = 0;
    std::vector<DiffLine> lines;
};

// The shortest line-by-line edit from one text to the other, in hunks with that many
// unchanged lines around each change. Where the texts differ in very many places the
// differing middle is shown as one removal and one addition, which is still exact.
std::vector<DiffHunk> DiffTexts(const TextLines &before, const TextLines &after, int context = 3);

// The same for texts given line by line as numbers, equal numbers for equal lines; text and
// ended give a line of the old (old set) or the new text, asked only for lines the hunks show.
// Texts of as many lines as each other are compared line against line, which is what an edit
// that keeps the lines does and costs no search.
std::vector<DiffHunk> DiffNumbered(const std::vector<int> &a, const std::vector<int> &b,
                                   const std::function<QString(bool old, int index)> &text,
                                   const std::function<bool(bool old, int index)> &ended,
                                   int context = 3);

// A hunk as a unified diff shows it: the "@@" line, then one line per line, each with its
// line feed, and "\ No newline at end of file" where it applies.
QString UnifiedHunk(const DiffHunk &hunk);
// The same in UTF-8, from the lines' UTF-8 (DiffLine::utf8), appended to out.
void AppendUnifiedHunkUtf8(const DiffHunk &hunk, QByteArray &out);
QByteArray UnifiedHunkUtf8(const DiffHunk &hunk);
