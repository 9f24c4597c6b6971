#include "engine/run/LineDiff.h"

#include <QHash>
#include <algorithm>

TextLines TextLines::of(const QString &text)
{
    TextLines result;
    if (text.isEmpty())
        return result;
    result.lines = text.split(QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n')))
        result.lines.removeLast();
    else
        result.lastEnded = false;
    return result;
}

namespace {

// Edits beyond this are not searched for the shortest script: its trace grows as their
// square.
const int mostEdits = 2000;

struct Edit
{
    DiffLine::Kind kind;
    int oldIndex; // the line's index in its text
    int newIndex;
};

// Each line as a number, equal numbers for equal lines; a last line without its line feed
// differs from the same text with one.
void Number(const TextLines &before, const TextLines &after, std::vector<int> &a,
            std::vector<int> &b)
{
    QHash<QString, int> ids;
    const auto number = [&](const TextLines &text, std::vector<int> &out) {
        out.reserve(static_cast<size_t>(text.lines.size()));
        for (int i = 0; i < text.lines.size(); ++i) {
            QString key = text.lines.at(i);
            if (i + 1 < text.lines.size() || text.lastEnded)
                key += QLatin1Char('\n');
            out.push_back(ids.insert(key, ids.value(key, ids.size())).value());
        }
    };
    number(before, a);
    number(after, b);
}

// Myers' greedy search for the middle a[lo..], b[lo..] up to their common tail; false when it
// takes more than mostEdits.
bool Shortest(const std::vector<int> &a, const std::vector<int> &b, int lo, int aEnd, int bEnd,
              std::vector<Edit> &edits)
{
    const int n = aEnd - lo;
    const int m = bEnd - lo;
    const int most = std::min(n + m, mostEdits);
    std::vector<int> v(static_cast<size_t>(2 * most + 3), 0);
    const int offset = most + 1;
    std::vector<std::vector<int>> trace; // v[-d..d] before step d
    int found = -1;
    for (int d = 0; d <= most && found < 0; ++d) {
        trace.emplace_back(v.begin() + offset - d, v.begin() + offset + d + 1);
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && v[size_t(offset + k - 1)] < v[size_t(offset + k + 1)]))
                        ? v[size_t(offset + k + 1)]
                        : v[size_t(offset + k - 1)] + 1;
            int y = x - k;
            while (x < n && y < m && a[size_t(lo + x)] == b[size_t(lo + y)]) {
                ++x;
                ++y;
            }
            v[size_t(offset + k)] = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    if (found < 0)
        return false;
    std::vector<Edit> backwards;
    int x = n;
    int y = m;
    for (int d = found; d > 0; --d) {
        const std::vector<int> &before = trace[size_t(d)]; // v after step d-1, indexed k+d
        const auto at = [&](int k) { return before[size_t(k + d)]; };
        const int k = x - y;
        const bool down = k == -d || (k != d && at(k - 1) < at(k + 1));
        const int prevK = down ? k + 1 : k - 1;
        const int prevX = at(prevK);
        const int prevY = prevX - prevK;
        while (x > prevX + (down ? 0 : 1) && y > prevY + (down ? 1 : 0)) {
            --x;
            --y;
            backwards.push_back({DiffLine::Same, lo + x, lo + y});
        }
        if (down) {
            --y;
            backwards.push_back({DiffLine::Added, lo + x, lo + y});
        } else {
            --x;
            backwards.push_back({DiffLine::Removed, lo + x, lo + y});
        }
    }
    while (x > 0 && y > 0) {
        --x;
        --y;
        backwards.push_back({DiffLine::Same, lo + x, lo + y});
    }
    edits.insert(edits.end(), backwards.rbegin(), backwards.rend());
    return true;
}

std::vector<Edit> Edits(const std::vector<int> &a, const std::vector<int> &b)
{
    const int n = static_cast<int>(a.size());
    const int m = static_cast<int>(b.size());
    int lo = 0;
    while (lo < n && lo < m && a[size_t(lo)] == b[size_t(lo)])
        ++lo;
    int aEnd = n;
    int bEnd = m;
    while (aEnd > lo && bEnd > lo && a[size_t(aEnd - 1)] == b[size_t(bEnd - 1)]) {
        --aEnd;
        --bEnd;
    }
    std::vector<Edit> edits;
    for (int i = 0; i < lo; ++i)
        edits.push_back({DiffLine::Same, i, i});
    if (aEnd - lo == bEnd - lo) {
        // Line against line; a run of changed lines is shown removed, then added.
        for (int i = lo; i < aEnd;) {
            if (a[size_t(i)] == b[size_t(i)]) {
                edits.push_back({DiffLine::Same, i, i});
                ++i;
                continue;
            }
            int end = i;
            while (end < aEnd && a[size_t(end)] != b[size_t(end)])
                ++end;
            for (int j = i; j < end; ++j)
                edits.push_back({DiffLine::Removed, j, i});
            for (int j = i; j < end; ++j)
                edits.push_back({DiffLine::Added, end, j});
            i = end;
        }
    } else if (!Shortest(a, b, lo, aEnd, bEnd, edits)) {
        for (int i = lo; i < aEnd; ++i)
            edits.push_back({DiffLine::Removed, i, lo});
        for (int j = lo; j < bEnd; ++j)
            edits.push_back({DiffLine::Added, aEnd, j});
    }
    for (int i = aEnd, j = bEnd; i < n; ++i, ++j)
        edits.push_back({DiffLine::Same, i, j});
    return edits;
}

} // namespace

std::vector<DiffHunk> DiffTexts(const TextLines &before, const TextLines &after, int context)
{
    std::vector<int> a;
    std::vector<int> b;
    Number(before, after, a, b);
    return DiffNumbered(
        a, b, [&](bool old, int index) { return (old ? before : after).lines.at(index); },
        [&](bool old, int index) {
            const TextLines &text = old ? before : after;
            return index + 1 < text.lines.size() || text.lastEnded;
        },
        context);
}

std::vector<DiffHunk> DiffNumbered(const std::vector<int> &a, const std::vector<int> &b,
                                   const std::function<QString(bool old, int index)> &text,
                                   const std::function<bool(bool old, int index)> &ended,
                                   int context)
{
    const std::vector<Edit> edits = Edits(a, b);
    std::vector<DiffHunk> hunks;
    const int count = static_cast<int>(edits.size());
    int i = 0;
    while (i < count) {
        if (edits[size_t(i)].kind == DiffLine::Same) {
            ++i;
            continue;
        }
        // A change: its hunk runs from context lines before it to context lines after the
        // last change that lies within twice the context of the one before.
        const int first = std::max(0, i - context);
        int last = i;
        for (int j = i; j < count; ++j) {
            if (edits[size_t(j)].kind != DiffLine::Same)
                last = j;
            else if (j - last > 2 * context)
                break;
        }
        const int end = std::min(count, last + 1 + context);
        DiffHunk hunk;
        hunk.oldStart = edits[size_t(first)].oldIndex + 1;
        hunk.newStart = edits[size_t(first)].newIndex + 1;
        for (int j = first; j < end; ++j) {
            const Edit &edit = edits[size_t(j)];
            DiffLine line;
            line.kind = edit.kind;
            if (edit.kind == DiffLine::Added) {
                line.text = text(false, edit.newIndex);
                line.ended = ended(false, edit.newIndex);
                ++hunk.newCount;
            } else {
                line.text = text(true, edit.oldIndex);
                line.ended = ended(true, edit.oldIndex);
                ++hunk.oldCount;
                if (edit.kind == DiffLine::Same)
                    ++hunk.newCount;
            }
            hunk.lines.push_back(std::move(line));
        }
        // An empty side starts before its line, as diff writes it.
        if (hunk.oldCount == 0)
            --hunk.oldStart;
        if (hunk.newCount == 0)
            --hunk.newStart;
        hunks.push_back(std::move(hunk));
        i = end;
    }
    return hunks;
}

QString UnifiedHunk(const DiffHunk &hunk)
{
    const auto range = [](int start, int count) {
        return count == 1 ? QString::number(start) : QStringLiteral("%1,%2").arg(start).arg(count);
    };
    QString text =
        QStringLiteral("@@ -%1 +%2 @@\n")
            .arg(range(hunk.oldStart, hunk.oldCount), range(hunk.newStart, hunk.newCount));
    for (const DiffLine &line : hunk.lines) {
        text += line.kind == DiffLine::Same      ? QLatin1Char(' ')
                : line.kind == DiffLine::Removed ? QLatin1Char('-')
                                                 : QLatin1Char('+');
        text += line.text;
        text += QLatin1Char('\n');
        if (!line.ended)
            text += QStringLiteral("\\ No newline at end of file\n");
    }
    return text;
}

void AppendUnifiedHunkUtf8(const DiffHunk &hunk, QByteArray &out)
{
    // Room for every line made at once: grown line by line, a diff costs more in copies.
    qsizetype room = 48;
    for (const DiffLine &line : hunk.lines)
        room += 2 + line.utf8.size() + (line.ended ? 0 : 32);
    // Grown geometrically: a file's hunks are appended one after the other.
    if (out.capacity() < out.size() + room)
        out.reserve(int(std::max<qsizetype>(out.size() + room, 2 * qsizetype(out.capacity()))));
    const auto range = [&](int start, int count) {
        out += QByteArray::number(start);
        if (count != 1) {
            out += ',';
            out += QByteArray::number(count);
        }
    };
    out += "@@ -";
    range(hunk.oldStart, hunk.oldCount);
    out += " +";
    range(hunk.newStart, hunk.newCount);
    out += " @@\n";
    for (const DiffLine &line : hunk.lines) {
        out += line.kind == DiffLine::Same ? ' ' : line.kind == DiffLine::Removed ? '-' : '+';
        out += line.utf8;
        out += '\n';
        if (!line.ended)
            out += "\\ No newline at end of file\n";
    }
}

QByteArray UnifiedHunkUtf8(const DiffHunk &hunk)
{
    QByteArray text;
    AppendUnifiedHunkUtf8(hunk, text);
    return text;
}
