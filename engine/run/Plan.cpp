#include "engine/run/Plan.h"

#include "engine/batch/LaunchChecks.h"
#include "engine/codec/ByteChecks.h"
#include "engine/codec/GbkUtf8.h"
#include "engine/files/Paths.h"
#include "engine/journal/ContentHash.h"
#include "engine/operations/FileHook.h"
#include "engine/run/TextFile.h"

#include <QTextCodec>

#include <algorithm>
#include <cstring>
#include <optional>
#include <tuple>

QString EncodingName(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf16Le:
        return QStringLiteral("UTF-16LE");
    case TextEncoding::Utf16Be:
        return QStringLiteral("UTF-16BE");
    case TextEncoding::Gbk:
        return QStringLiteral("GBK");
    case TextEncoding::Gb18030:
        return QStringLiteral("GB18030");
    case TextEncoding::Big5:
        return QStringLiteral("Big5");
    case TextEncoding::Utf8:
        break;
    }
    return QStringLiteral("UTF-8");
}

bool EncodingFromName(const QString &name, TextEncoding &encoding)
{
    for (const TextEncoding each :
         {TextEncoding::Utf16Le, TextEncoding::Utf16Be, TextEncoding::Utf8, TextEncoding::Gbk,
          TextEncoding::Gb18030, TextEncoding::Big5}) {
        if (EncodingName(each) == name) {
            encoding = each;
            return true;
        }
    }
    return false;
}

namespace {

QString DecodedLines(const QByteArray &bytes, TextEncoding encoding)
{
    DecodedText decoded = DecodeBytes(bytes, encoding, false);
    NormaliseLineEnds(decoded.text);
    return decoded.text;
}

// A text's lines as spans of its bytes, split where NormaliseLineEnds makes a line feed (CR
// LF, a lone CR, LF): single bytes that no UTF-8 or GBK character contains, or single code
// units in UTF-16.
struct ByteLines
{
    const QByteArray *bytes = nullptr;
    std::vector<std::pair<int, int>> spans; // start, size
    bool lastEnded = true;

    ByteLines(const QByteArray &text, TextEncoding encoding) : bytes(&text)
    {
        if (encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be)
            splitUtf16(text, encoding == TextEncoding::Utf16Le);
        else
            split(text, encoding);
    }
    QByteArray line(int index) const
    {
        const auto [start, size] = spans[size_t(index)];
        return QByteArray::fromRawData(bytes->constData() + start, size);
    }

private:
    void split(const QByteArray &text, TextEncoding encoding)
    {
        const char *data = text.constData();
        const int size = text.size();
        int at = encoding == TextEncoding::Utf8 && text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        int start = at;
        while (at < size) {
            const char *feed =
                static_cast<const char *>(std::memchr(data + at, '\n', size_t(size - at)));
            const int end = feed ? int(feed - data) : size;
            // A lone CR ends a line too; rare, so looked for only within the line.
            const char *cr =
                static_cast<const char *>(std::memchr(data + at, '\r', size_t(end - at)));
            if (cr && !(cr + 1 == feed)) {
                spans.emplace_back(start, int(cr - data) - start);
                at = int(cr - data) + 1;
                start = at;
                continue;
            }
            if (!feed) {
                at = size;
                break;
            }
            const int lineEnd = cr ? int(cr - data) : end;
            spans.emplace_back(start, lineEnd - start);
            at = end + 1;
            start = at;
        }
        if (start < size) {
            spans.emplace_back(start, size - start);
            lastEnded = false;
        }
    }
    // As DecodeUtf16 reads it: the mark's two bytes left out, an odd last byte dropped.
    void splitUtf16(const QByteArray &text, bool little)
    {
        const auto *data = reinterpret_cast<const uchar *>(text.constData());
        const int size = 2 + std::max(0, text.size() - 2) / 2 * 2;
        const auto unit = [&](int at) {
            return little ? data[at] | data[at + 1] << 8 : data[at] << 8 | data[at + 1];
        };
        int start = 2;
        for (int at = 2; at < size; at += 2) {
            const int value = unit(at);
            if (value != '\n' && value != '\r')
                continue;
            spans.emplace_back(start, at - start);
            if (value == '\r' && at + 2 < size && unit(at + 2) == '\n')
                at += 2;
            start = at + 2;
        }
        if (start < size) {
            spans.emplace_back(start, size - start);
            lastEnded = false;
        }
    }
};

bool SameLine(const ByteLines &old, const ByteLines &now, size_t index)
{
    const auto [oldStart, oldSize] = old.spans[index];
    const auto [newStart, newSize] = now.spans[index];
    return oldSize == newSize &&
           std::memcmp(old.bytes->constData() + oldStart, now.bytes->constData() + newStart,
                       size_t(oldSize)) == 0;
}

// The changes of an edit that leaves as many lines as it found: the diff then goes line
// against line (DiffNumbered), each run of changed lines one change. Only those lines are
// decoded, in one go as DiffBytes decodes them; valid UTF-8 wanted as UTF-8 is not decoded at
// all. False when the line counts differ.
bool ChangesLineByLine(const QByteArray &before, const QByteArray &after, TextEncoding encoding,
                       bool asUtf8, PlannedFile &file)
{
    const ByteLines old(before, encoding);
    const ByteLines now(after, encoding);
    if (old.spans.size() != now.spans.size() || old.lastEnded != now.lastEnded)
        return false;
    const int lines = static_cast<int>(old.spans.size());
    const auto same = [&](int i) { return SameLine(old, now, size_t(i)); };
    std::vector<std::pair<int, int>> runs; // the first line changed, the next line kept
    for (int i = 0; i < lines;) {
        if (same(i)) {
            ++i;
            continue;
        }
        int end = i + 1;
        while (end < lines && !same(end))
            ++end;
        runs.emplace_back(i, end);
        i = end;
    }
    const bool utf16 = encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be;
    const QByteArray feed = !utf16                              ? QByteArray("\n", 1)
                            : encoding == TextEncoding::Utf16Le ? QByteArray("\n\0", 2)
                                                                : QByteArray("\0\n", 2);
    // Each run's old lines, then its new ones, as the diff shows them; DecodeUtf16 leaves out
    // the first two bytes, where a file has its mark.
    const QByteArray mark = utf16 ? QByteArray(2, '\0') : QByteArray();
    QByteArray joined = mark;
    int wanted = 0;
    const auto eachLine = [&](const std::function<void(const QByteArray &line)> &take) {
        for (const auto &[first, end] : runs) {
            for (const ByteLines *side : {&old, &now}) {
                for (int i = first; i < end; ++i)
                    take(side->line(i));
            }
        }
    };
    eachLine([&](const QByteArray &line) {
        joined += line;
        joined += feed;
        ++wanted;
    });
    file.utf8Texts = asUtf8;
    file.changes.reserve(runs.size());
    // Valid UTF-8 decodes to itself, but for a mark at the very start, which decoding drops.
    if (asUtf8 && encoding == TextEncoding::Utf8 &&
        IsValidUtf8(joined.constData(), joined.size())) {
        const char *at = joined.constData() + (joined.startsWith("\xEF\xBB\xBF") ? 3 : 0);
        const char *const end = joined.constData() + joined.size();
        const auto take = [&](int count) {
            const char *from = at;
            for (int i = 0; i < count; ++i)
                at = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at))) + 1;
            return QByteArray(from, int(at - from) - 1);
        };
        for (const auto &[first, next] : runs) {
            PlannedChange change;
            change.line = first + 1;
            change.beforeUtf8 = take(next - first);
            change.afterUtf8 = take(next - first);
            file.changes.push_back(std::move(change));
        }
        return true;
    }
    QString text = DecodeBytes(joined, encoding, false).text;
    // A broken character must not swallow a line feed; such a file goes line by line.
    if (text.count(QLatin1Char('\n')) != wanted) {
        text.clear();
        eachLine([&](const QByteArray &line) {
            text += DecodeBytes(mark + line, encoding, false).text;
            text += QLatin1Char('\n');
        });
    }
    int at = 0;
    const auto take = [&](int count) {
        const int from = at;
        for (int i = 0; i < count; ++i)
            at = text.indexOf(QLatin1Char('\n'), at) + 1;
        return text.mid(from, at - from - 1);
    };
    for (const auto &[first, next] : runs) {
        PlannedChange change;
        change.line = first + 1;
        change.before = take(next - first);
        change.after = take(next - first);
        if (asUtf8) {
            change.beforeUtf8 = change.before.toUtf8();
            change.afterUtf8 = change.after.toUtf8();
            change.before.clear();
            change.after.clear();
        }
        file.changes.push_back(std::move(change));
    }
    return true;
}

// One text's lines in order, split as ByteLines splits them, without keeping them.
class LineWalk
{
public:
    LineWalk(const QByteArray &text, TextEncoding encoding)
        : data(text.constData()),
          utf16(encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be),
          little(encoding == TextEncoding::Utf16Le)
    {
        if (utf16) {
            at = 2;
            size = 2 + std::max(0, text.size() - 2) / 2 * 2;
        } else {
            at = encoding == TextEncoding::Utf8 && text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
            size = text.size();
        }
    }
    // From a line's start, for the lines of a run found earlier.
    LineWalk(const LineWalk &walk, int from) : LineWalk(walk)
    {
        at = from;
        nextCr = -1;
        crInLine = true;
    }

    bool atEnd() const { return at >= size; }
    int position() const { return at; }

    // The next line's bytes, its line end left out; ended is false for a last line without one.
    void next(int &start, int &end, bool &ended)
    {
        start = at;
        if (utf16) {
            int p = at;
            while (p < size && unit(p) != '\n' && unit(p) != '\r')
                p += 2;
            end = p;
            takeEnd(p);
        } else {
            const char *feed =
                static_cast<const char *>(std::memchr(data + at, '\n', size_t(size - at)));
            const int lineEnd = feed ? int(feed - data) : size;
            // The next CR is looked for again only once passed: a file of LF alone is searched
            // for one once, not line by line. A walk over a run's lines looks within the line:
            // a search to the end of a novel for each changed line would take seconds.
            if (nextCr < at) {
                const int until = crInLine ? lineEnd : size;
                const char *cr =
                    static_cast<const char *>(std::memchr(data + at, '\r', size_t(until - at)));
                nextCr = cr ? int(cr - data) : until;
            }
            end = std::min(nextCr, lineEnd);
            takeEnd(end);
        }
        ended = end < size;
    }

    // Takes the next line when it holds exactly these bytes, as most lines of an edit do.
    bool nextIs(const char *line, int length, bool &ended)
    {
        const int end = at + length;
        if (end > size || std::memcmp(data + at, line, size_t(length)) != 0)
            return false;
        if (end < size) {
            const int value = utf16 ? unit(end) : data[end];
            if (value != '\n' && value != '\r')
                return false;
        }
        takeEnd(end);
        ended = end < size;
        return true;
    }

    const char *const data;

private:
    int unit(int p) const
    {
        const auto *bytes = reinterpret_cast<const uchar *>(data) + p;
        return little ? bytes[0] | bytes[1] << 8 : bytes[0] << 8 | bytes[1];
    }
    // Past the line end at p (CR LF, a lone CR or LF), or to the end.
    void takeEnd(int p)
    {
        if (p >= size) {
            at = size;
            return;
        }
        const int width = utf16 ? 2 : 1;
        const int value = utf16 ? unit(p) : data[p];
        at = p + width;
        if (value == '\r' && at < size && (utf16 ? unit(at) : data[at]) == '\n')
            at += width;
    }

    const bool utf16;
    const bool little;
    int at = 0;
    int size = 0;
    int nextCr = -1; // the first CR at or after the last place looked from, or where it stopped
    bool crInLine = false;
};

// Well-formed UTF-16 as UTF-8, as QString::toUtf8 gives it; false at a lone surrogate.
bool AppendUtf16AsUtf8(const char *data, int size, bool little, QByteArray &utf8)
{
    const int start = utf8.size();
    utf8.resize(start + size / 2 * 3);
    char *out = utf8.data() + start;
    const auto *at = reinterpret_cast<const uchar *>(data);
    const auto *const end = at + size / 2 * 2;
    const auto unit = [little](const uchar *p) {
        return char32_t(little ? p[0] | p[1] << 8 : p[0] << 8 | p[1]);
    };
    bool whole = true;
    for (; at < end; at += 2) {
        char32_t c = unit(at);
        if (c < 0x80) {
            *out++ = char(c);
            continue;
        }
        if (c < 0x800) {
            *out++ = char(0xC0 | c >> 6);
            *out++ = char(0x80 | (c & 0x3F));
            continue;
        }
        if (c < 0xD800 || c >= 0xE000) {
            *out++ = char(0xE0 | c >> 12);
            *out++ = char(0x80 | (c >> 6 & 0x3F));
            *out++ = char(0x80 | (c & 0x3F));
            continue;
        }
        const char32_t low = end - at >= 4 ? unit(at + 2) : 0;
        if (c >= 0xDC00 || low < 0xDC00 || low >= 0xE000) {
            whole = false;
            break;
        }
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        *out++ = char(0xF0 | c >> 18);
        *out++ = char(0x80 | (c >> 12 & 0x3F));
        *out++ = char(0x80 | (c >> 6 & 0x3F));
        *out++ = char(0x80 | (c & 0x3F));
        at += 2;
    }
    utf8.resize(int(out - utf8.constData()));
    return whole;
}

// A line's text as UTF-8, appended; false where only decoding can tell it.
bool AppendLineUtf8(const char *data, int size, TextEncoding encoding, QByteArray &utf8)
{
    switch (encoding) {
    case TextEncoding::Utf8:
        if (!IsValidUtf8(data, size))
            return false;
        utf8.append(data, size);
        return true;
    case TextEncoding::Gbk:
        return AppendGbkAsUtf8(data, size, utf8);
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be:
        return AppendUtf16AsUtf8(data, size, encoding == TextEncoding::Utf16Le, utf8);
    case TextEncoding::Gb18030:
    case TextEncoding::Big5:
        break;
    }
    return false;
}

// An unchanged line, in the old text.
struct KeptLine
{
    int index;
    int start;
    int end;
    bool ended;
};

// A run of changed lines, with up to context unchanged lines on each side.
struct ChangedRun
{
    int firstLine;
    int lines;
    int oldFrom; // the first line's start in each text
    int newFrom;
    std::vector<KeptLine> before;
    std::vector<KeptLine> after;
};

// The runs of changed lines of an edit that keeps the lines, line against line, in one walk
// over both texts together: only the changed lines are looked at twice, and no list of either
// text's lines is made. False when the line counts differ.
bool WalkRuns(LineWalk &old, LineWalk &now, int context, std::vector<ChangedRun> &runs)
{
    // The last context unchanged lines, in a ring.
    std::vector<KeptLine> recent(size_t(std::max(context, 1)));
    size_t recentCount = 0;
    size_t recentNext = 0;
    int keptSinceRun = 0;
    int line = 0;
    while (!old.atEnd() && !now.atEnd()) {
        int start = 0;
        int end = 0;
        bool oldEnded = false;
        bool newEnded = false;
        old.next(start, end, oldEnded);
        const int newFrom = now.position();
        if (now.nextIs(old.data + start, end - start, newEnded)) {
            if (context > 0) {
                const KeptLine kept{line, start, end, oldEnded};
                if (!runs.empty() && keptSinceRun < context)
                    runs.back().after.push_back(kept);
                ++keptSinceRun;
                recent[recentNext] = kept;
                if (++recentNext == recent.size())
                    recentNext = 0;
                recentCount = std::min(recentCount + 1, recent.size());
            }
        } else {
            int newStart = 0;
            int newEnd = 0;
            now.next(newStart, newEnd, newEnded);
            keptSinceRun = 0;
            if (!runs.empty() && runs.back().firstLine + runs.back().lines == line) {
                ++runs.back().lines;
            } else {
                std::vector<KeptLine> before;
                before.reserve(recentCount);
                for (size_t i = recentCount; i > 0; --i)
                    before.push_back(recent[(recentNext + recent.size() - i) % recent.size()]);
                recentCount = 0;
                runs.push_back({line, 1, start, newFrom, std::move(before), {}});
            }
        }
        // Only a last line lacks its line end: the other text then has a line more, or ends
        // otherwise.
        if (oldEnded != newEnded)
            return false;
        ++line;
    }
    return old.atEnd() && now.atEnd();
}

// Hands a run's lines of one text to take, until it returns false.
bool EachRunLine(const LineWalk &walk, int from, int lines,
                 const std::function<bool(const char *data, int size, bool ended)> &take)
{
    LineWalk each(walk, from);
    for (int i = 0; i < lines; ++i) {
        int start = 0;
        int end = 0;
        bool ended = false;
        each.next(start, end, ended);
        if (!take(walk.data + start, end - start, ended))
            return false;
    }
    return true;
}

// ChangesLineByLine for texts wanted as UTF-8, from WalkRuns; nothing when some changed line
// must be decoded, which ChangesLineByLine does.
std::optional<bool> WalkedChanges(const QByteArray &before, const QByteArray &after,
                                  TextEncoding encoding, PlannedFile &file)
{
    std::vector<ChangedRun> runs;
    LineWalk old(before, encoding);
    LineWalk now(after, encoding);
    if (!WalkRuns(old, now, 0, runs))
        return false;
    std::vector<PlannedChange> changes;
    changes.reserve(runs.size());
    for (const ChangedRun &run : runs) {
        PlannedChange change;
        change.line = run.firstLine + 1;
        for (const auto &[walk, from, text] :
             {std::make_tuple(&old, run.oldFrom, &change.beforeUtf8),
              std::make_tuple(&now, run.newFrom, &change.afterUtf8)}) {
            bool first = true;
            if (!EachRunLine(*walk, from, run.lines,
                             [&, text = text](const char *data, int size, bool) {
                                 if (!first)
                                     *text += '\n';
                                 first = false;
                                 return AppendLineUtf8(data, size, encoding, *text);
                             }))
                return std::nullopt;
        }
        changes.push_back(std::move(change));
    }
    // Decoding drops a mark at the very start of the lines it is given, the first changed
    // line's.
    if (encoding == TextEncoding::Utf8 && !changes.empty() &&
        changes.front().beforeUtf8.startsWith("\xEF\xBB\xBF"))
        changes.front().beforeUtf8.remove(0, 3);
    file.utf8Texts = true;
    file.changes = std::move(changes);
    return true;
}

// DiffBytes for lines wanted as UTF-8 (DiffLine::utf8), from WalkRuns: the hunks DiffNumbered
// makes of texts of as many lines. False when the line counts differ; nothing when some line
// shown must be decoded, which DiffBytes does.
std::optional<bool> WalkedHunks(const QByteArray &before, const QByteArray &after,
                                TextEncoding encoding, int context, std::vector<DiffHunk> &hunks)
{
    std::vector<ChangedRun> runs;
    LineWalk old(before, encoding);
    LineWalk now(after, encoding);
    if (!WalkRuns(old, now, context, runs))
        return false;
    const auto line = [&](DiffLine::Kind kind, const char *data, int size, bool ended,
                          DiffHunk &hunk) {
        DiffLine shown;
        shown.kind = kind;
        shown.ended = ended;
        if (!AppendLineUtf8(data, size, encoding, shown.utf8))
            return false;
        if (kind != DiffLine::Added)
            ++hunk.oldCount;
        if (kind != DiffLine::Removed)
            ++hunk.newCount;
        hunk.lines.push_back(std::move(shown));
        return true;
    };
    const auto kept = [&](const KeptLine &each, DiffHunk &hunk) {
        return line(DiffLine::Same, old.data + each.start, each.end - each.start, each.ended, hunk);
    };
    for (size_t first = 0; first < runs.size();) {
        // Runs no more than twice the context apart share a hunk.
        size_t last = first;
        while (last + 1 < runs.size() &&
               runs[last + 1].firstLine - (runs[last].firstLine + runs[last].lines) <= 2 * context)
            ++last;
        DiffHunk hunk;
        size_t shown = runs[first].before.size() + runs[last].after.size();
        for (size_t r = first; r <= last; ++r)
            shown += 2 * size_t(runs[r].lines) + runs[r].after.size() + runs[r].before.size();
        hunk.lines.reserve(shown);
        const int from =
            runs[first].before.empty() ? runs[first].firstLine : runs[first].before.front().index;
        hunk.oldStart = from + 1;
        hunk.newStart = from + 1;
        for (const KeptLine &each : runs[first].before) {
            if (!kept(each, hunk))
                return std::nullopt;
        }
        for (size_t r = first; r <= last; ++r) {
            const ChangedRun &run = runs[r];
            if (!EachRunLine(old, run.oldFrom, run.lines,
                             [&](const char *data, int size, bool ended) {
                                 return line(DiffLine::Removed, data, size, ended, hunk);
                             }) ||
                !EachRunLine(now, run.newFrom, run.lines,
                             [&](const char *data, int size, bool ended) {
                                 return line(DiffLine::Added, data, size, ended, hunk);
                             }))
                return std::nullopt;
            // The unchanged lines after the run, and before the next one where the two
            // windows leave none between them.
            int shownUpTo = run.firstLine + run.lines - 1;
            for (const KeptLine &each : run.after) {
                if (!kept(each, hunk))
                    return std::nullopt;
                shownUpTo = each.index;
            }
            if (r == last)
                break;
            for (const KeptLine &each : runs[r + 1].before) {
                if (each.index > shownUpTo && !kept(each, hunk))
                    return std::nullopt;
            }
        }
        hunks.push_back(std::move(hunk));
        first = last + 1;
    }
    // Decoding drops a mark at the very start of the lines it is given, the first shown.
    if (encoding == TextEncoding::Utf8 && !hunks.empty() &&
        hunks.front().lines.front().utf8.startsWith("\xEF\xBB\xBF"))
        hunks.front().lines.front().utf8.remove(0, 3);
    return true;
}

// Diffs the bytes line by line and decodes only the lines the hunks show: most of a changed
// file is the same before and after, and decoding it whole would cost more than the run.
// With asUtf8 set, the lines of valid UTF-8 are kept in DiffLine::utf8 instead; asUtf8 is
// cleared where they are not.
std::vector<DiffHunk> DiffBytes(const QByteArray &before, const QByteArray &after,
                                TextEncoding encoding, int context, bool &asUtf8)
{
    const ByteLines old(before, encoding);
    const ByteLines now(after, encoding);
    std::vector<int> a;
    std::vector<int> b;
    if (old.spans.size() == now.spans.size() && old.lastEnded == now.lastEnded) {
        // As many lines: the diff goes line against line, and only asks which are equal.
        const size_t lines = old.spans.size();
        a.resize(lines);
        b.resize(lines);
        for (size_t i = 0; i < lines; ++i) {
            a[i] = static_cast<int>(2 * i);
            b[i] = SameLine(old, now, i) ? a[i] : a[i] + 1;
        }
    } else {
        QHash<QByteArray, int> ids;
        const auto number = [&](const ByteLines &lines, std::vector<int> &out) {
            out.reserve(lines.spans.size());
            for (size_t i = 0; i < lines.spans.size(); ++i) {
                // A last line without its line feed is not the same line with one.
                const bool ended = i + 1 < lines.spans.size() || lines.lastEnded;
                const QByteArray key = lines.line(static_cast<int>(i));
                const int known = ids.value(key, -1);
                const int id = known >= 0 ? known : int(ids.size());
                if (known < 0)
                    ids.insert(key, id); // raw, into bytes that outlive ids
                out.push_back(ended ? 2 * id : 2 * id + 1);
            }
        };
        number(old, a);
        number(now, b);
    }
    // The lines the hunks show are decoded in one go: a decoder is costly to start.
    std::vector<std::pair<bool, int>> wanted;
    const auto ended = [&](bool isOld, int index) {
        const ByteLines &lines = isOld ? old : now;
        return size_t(index) + 1 < lines.spans.size() || lines.lastEnded;
    };
    std::vector<DiffHunk> hunks = DiffNumbered(
        a, b,
        [&](bool isOld, int index) {
            wanted.emplace_back(isOld, index);
            return QString();
        },
        ended, context);
    const bool utf16 = encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be;
    const QByteArray feed = !utf16                              ? QByteArray("\n", 1)
                            : encoding == TextEncoding::Utf16Le ? QByteArray("\n\0", 2)
                                                                : QByteArray("\0\n", 2);
    // DecodeUtf16 leaves out the first two bytes, where a file has its mark.
    QByteArray joined = utf16 ? QByteArray(2, '\0') : QByteArray();
    int joinedSize = joined.size();
    for (const auto &[isOld, index] : wanted)
        joinedSize += (isOld ? old : now).spans[size_t(index)].second + feed.size();
    joined.reserve(joinedSize);
    for (const auto &[isOld, index] : wanted) {
        const auto [start, size] = (isOld ? old : now).spans[size_t(index)];
        joined.append((isOld ? before : after).constData() + start, size);
        joined += feed;
    }
    // Valid UTF-8 decodes to itself, but for a mark at the very start, which decoding drops;
    // asked for UTF-8, its lines are taken as they are.
    if (asUtf8 &&
        !(encoding == TextEncoding::Utf8 && IsValidUtf8(joined.constData(), joined.size())))
        asUtf8 = false;
    if (asUtf8) {
        const char *at = joined.constData() + (joined.startsWith("\xEF\xBB\xBF") ? 3 : 0);
        const char *const end = joined.constData() + joined.size();
        for (DiffHunk &hunk : hunks) {
            for (DiffLine &line : hunk.lines) {
                const char *feedAt =
                    static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)));
                line.utf8 = QByteArray(at, int(feedAt - at));
                at = feedAt + 1;
            }
        }
        return hunks;
    }
    QStringList texts = DecodeBytes(joined, encoding, false).text.split(QLatin1Char('\n'));
    texts.removeLast();
    // DiffNumbered asks once for each line of its hunks, in order.
    int next = 0;
    for (DiffHunk &hunk : hunks) {
        for (DiffLine &line : hunk.lines) {
            const auto [isOld, index] = wanted[size_t(next)];
            // A broken character must not swallow a line feed; such a file goes line by line.
            line.text = texts.size() == int(wanted.size())
                            ? texts.at(next)
                            : DecodeBytes((utf16 ? QByteArray(2, '\0') : QByteArray()) +
                                              (isOld ? old : now).line(index),
                                          encoding, false)
                                  .text;
            ++next;
        }
    }
    return hunks;
}

// The hunks' runs of removed and added lines; from the lines' UTF-8 into the changes' UTF-8
// where the hunks hold that.
std::vector<PlannedChange> Changes(const std::vector<DiffHunk> &hunks, bool utf8)
{
    std::vector<PlannedChange> changes;
    for (const DiffHunk &hunk : hunks) {
        int oldLine = hunk.oldCount == 0 ? hunk.oldStart + 1 : hunk.oldStart;
        QStringList removed;
        QStringList added;
        QList<QByteArray> removedUtf8;
        QList<QByteArray> addedUtf8;
        int changeLine = 0;
        // A single line, as most changes are, is shared rather than copied.
        const auto join = [](const auto &lines, auto separator) {
            return lines.size() == 1 ? lines.first() : lines.join(separator);
        };
        const auto close = [&] {
            if (utf8 && (!removedUtf8.isEmpty() || !addedUtf8.isEmpty())) {
                PlannedChange change;
                change.line = changeLine;
                change.beforeUtf8 = join(removedUtf8, '\n');
                change.afterUtf8 = join(addedUtf8, '\n');
                changes.push_back(std::move(change));
            } else if (!removed.isEmpty() || !added.isEmpty()) {
                changes.push_back(
                    {changeLine, join(removed, QLatin1Char('\n')), join(added, QLatin1Char('\n'))});
            }
            removed.clear();
            added.clear();
            removedUtf8.clear();
            addedUtf8.clear();
        };
        for (const DiffLine &line : hunk.lines) {
            if (line.kind == DiffLine::Same) {
                close();
                ++oldLine;
                continue;
            }
            if (removed.isEmpty() && added.isEmpty() && removedUtf8.isEmpty() &&
                addedUtf8.isEmpty())
                changeLine = oldLine;
            if (line.kind == DiffLine::Removed) {
                if (utf8)
                    removedUtf8 << line.utf8;
                else
                    removed << line.text;
                ++oldLine;
            } else if (utf8) {
                addedUtf8 << line.utf8;
            } else {
                added << line.text;
            }
        }
        close();
    }
    return changes;
}

// Non-overlapping occurrences, as a search goes through the text.
int Occurrences(const QString &text, const QString &term)
{
    int count = 0;
    if (term.isEmpty())
        return count;
    for (int at = text.indexOf(term); at >= 0; at = text.indexOf(term, at + term.size()))
        ++count;
    return count;
}

void FindLines(const QString &text, const QStringList &terms, int context, PlannedFile &file)
{
    const TextLines lines = TextLines::of(text);
    // More lines around than the file has show all of them; counted past it, i + context
    // would overflow and show none.
    context = std::min(context, static_cast<int>(lines.lines.size()));
    int shownUpTo = -1; // index of the last line kept
    for (int i = 0; i < lines.lines.size(); ++i) {
        const QString &line = lines.lines.at(i);
        const bool holds = std::any_of(terms.begin(), terms.end(), [&](const QString &term) {
            return !term.isEmpty() && line.contains(term);
        });
        if (!holds)
            continue;
        const int from = std::max(shownUpTo + 1, i - context);
        const int to = std::min(static_cast<int>(lines.lines.size()) - 1, i + context);
        for (int j = from; j <= to; ++j)
            file.foundLines.emplace_back(j + 1, lines.lines.at(j));
        shownUpTo = std::max(shownUpTo, to);
        file.foundLineNumbers.push_back(i + 1);
    }
}

} // namespace

namespace {

// The encoding the decision read the file in, by the name it gives it (EncodingName).
std::optional<TextEncoding> DecidedEncoding(const FileDecision &decision)
{
    if (!decision.outcome.encoding)
        return std::nullopt;
    const QString name = QString::fromLatin1(decision.outcome.encoding);
    if (name == QLatin1String("UTF-8 BOM"))
        return TextEncoding::Utf8;
    TextEncoding encoding = TextEncoding::Utf8;
    if (!EncodingFromName(name, encoding))
        return std::nullopt;
    return encoding;
}

} // namespace

PlannedFile PlanFromDecision(Operation operation, const BatchSettings &settings,
                             const QString &relativePath, const FileDecision &decision,
                             const PlanOptions &planOptions)
{
    PlannedFile file;
    file.relativePath = relativePath;
    file.size = decision.outcome.bytes;
    if (decision.outcome.kind == FileOutcome::Failed) {
        file.failed = true;
        file.failure = decision.outcome.failure;
        return file;
    }
    // The decision's own encoding where it names one: the same bytes would give the same.
    const std::optional<TextEncoding> decided = DecidedEncoding(decision);
    file.encoding = decided ? *decided : DecideEncoding(decision.original, settings.detectUtf16);
    file.hash = ContentHash(decision.original);
    if (operation == Operation::FindText) {
        const QString oldText = DecodedLines(decision.original, file.encoding);
        file.newHash = file.hash;
        const QStringList terms = SplitTerms(settings.searchTerms);
        for (const QString &term : terms)
            file.matches.push_back(Occurrences(oldText, term));
        FindLines(oldText, ShownTerms(settings), planOptions.context, file);
        return file;
    }
    file.matches = decision.hits;
    file.newHash = ContentHash(decision.newBytes);
    // GB18030, rare, is diffed as decoded text.
    if (!planOptions.withHunks && file.encoding != TextEncoding::Gb18030) {
        const std::optional<bool> walked =
            WalkedChanges(decision.original, decision.newBytes, file.encoding, file);
        if (walked && *walked && !planOptions.utf8Texts) {
            // As text: the UTF-8 read back by the decoder that reads UTF-8 files, which keeps
            // every character, a mark included.
            const auto text = [](QByteArray &utf8) {
                QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
                const QString decoded =
                    Utf8Codec()->toUnicode(utf8.constData(), utf8.size(), &state);
                utf8.clear();
                return decoded;
            };
            for (PlannedChange &change : file.changes) {
                change.before = text(change.beforeUtf8);
                change.after = text(change.afterUtf8);
            }
            file.utf8Texts = false;
        }
        if (walked ? *walked
                   : ChangesLineByLine(decision.original, decision.newBytes, file.encoding,
                                       planOptions.utf8Texts, file))
            return file;
    }
    // Without hunks no unchanged line is shown, and none needs decoding.
    const int context = planOptions.withHunks ? planOptions.context : 0;
    // GB18030, rare, is diffed as decoded text.
    file.utf8Hunks =
        planOptions.withHunks && planOptions.utf8Hunks && file.encoding != TextEncoding::Gb18030;
    std::vector<DiffHunk> hunks;
    const std::optional<bool> walked =
        file.utf8Hunks
            ? WalkedHunks(decision.original, decision.newBytes, file.encoding, context, hunks)
            : std::nullopt;
    if (!walked || !*walked) {
        hunks.clear();
        hunks =
            file.encoding != TextEncoding::Gb18030
                ? DiffBytes(decision.original, decision.newBytes, file.encoding, context,
                            file.utf8Hunks)
                : DiffTexts(TextLines::of(DecodedLines(decision.original, file.encoding)),
                            TextLines::of(DecodedLines(decision.newBytes, file.encoding)), context);
    }
    file.changes = Changes(hunks, file.utf8Hunks);
    if (planOptions.withHunks)
        file.hunks = std::move(hunks);
    file.utf8Texts = planOptions.utf8Texts;
    for (PlannedChange &change : file.changes) {
        if (file.utf8Texts && !file.utf8Hunks) {
            change.beforeUtf8 = change.before.toUtf8();
            change.afterUtf8 = change.after.toUtf8();
            change.before.clear();
            change.after.clear();
        } else if (!file.utf8Texts && file.utf8Hunks) {
            change.before =
                QString::fromUtf8(change.beforeUtf8.constData(), change.beforeUtf8.size());
            change.after = QString::fromUtf8(change.afterUtf8.constData(), change.afterUtf8.size());
            change.beforeUtf8.clear();
            change.afterUtf8.clear();
        }
    }
    return file;
}

qint64 PlannedFile::heldBytes() const
{
    const auto text = [](const QString &each) { return qint64(each.size()) * 2; };
    qint64 bytes = 0;
    for (const PlannedChange &change : changes)
        bytes += text(change.before) + text(change.after) + change.beforeUtf8.size() +
                 change.afterUtf8.size();
    for (const DiffHunk &hunk : hunks) {
        for (const DiffLine &line : hunk.lines)
            bytes += text(line.text) + line.utf8.size();
    }
    for (const auto &found : foundLines)
        bytes += text(found.second);
    for (const QByteArray &each : rendered)
        bytes += each.size();
    return bytes;
}

RunResult MakePlan(Operation operation, const BatchSettings &settings,
                   const std::function<void(const PlannedFile &file)> &filePlanned,
                   RunObserver observer, RunOptions options, const PlanOptions &planOptions)
{
    options.dryRun = true;
    options.keepOriginals = true;
    // Each file's plan is made where its decision was taken, side by side with the others;
    // the caller gets them in scan order.
    options.decided = [&](const QString &relativePath, FileDecision &decision) {
        if (decision.outcome.kind == FileOutcome::Unchanged)
            return;
        PlannedFile file =
            PlanFromDecision(operation, settings, relativePath, decision, planOptions);
        if (planOptions.render)
            planOptions.render(file);
        decision.attachedBytes = file.heldBytes();
        decision.attachment = std::move(file);
        decision.original = QByteArray();
        decision.newBytes = QByteArray();
    };
    observer.fileDecided = [&](const QString &, const FileDecision &decision) {
        if (const PlannedFile *file = std::any_cast<PlannedFile>(&decision.attachment))
            filePlanned(*file);
    };
    return RunBatch(operation, settings, observer, options);
}

quint64 ChangesHash(const std::vector<PlannedChange> &changes, bool utf8Texts)
{
    ChangesHasher hasher;
    for (const PlannedChange &change : changes) {
        if (utf8Texts)
            hasher.add(change.line, change.beforeUtf8, change.afterUtf8);
        else
            hasher.add(change.line, change.before.toUtf8(), change.after.toUtf8());
    }
    return hasher.hash();
}

void ChangesHasher::add(int line, const QByteArray &before, const QByteArray &after)
{
    // Each part with its length before it, so that no two lists of changes run together alike.
    const auto number = [this](qint64 value) {
        char bytes[8];
        for (int i = 0; i < 8; ++i)
            bytes[i] = char(value >> (8 * i) & 0xff);
        hasher.add(bytes, 8);
    };
    number(line);
    number(before.size());
    hasher.add(before.constData(), before.size());
    number(after.size());
    hasher.add(after.constData(), after.size());
}

bool PlanFitsFolders(const BatchSettings &planned, const BatchSettings &chosen)
{
    if (planned.saveInSource != chosen.saveInSource ||
        !SameFolder(planned.sourceDir, chosen.sourceDir))
        return false;
    return chosen.saveInSource || SameFolder(planned.saveDir, chosen.saveDir);
}

namespace {

// Why the file, decided by the apply's run, may not be written as the plan reviewed it; none
// when it may.
std::optional<FailureKind> ReviewMismatch(Operation operation, const BatchSettings &settings,
                                          const QString &relativePath, const FileDecision &decision,
                                          const ReviewedFile &reviewed)
{
    // A file the run would leave alone may be settled from its bytes without keeping them.
    const bool unchanged = decision.outcome.kind == FileOutcome::Unchanged;
    if ((!unchanged || !decision.original.isEmpty() || decision.outcome.bytes == 0) &&
        ContentHash(decision.original) != reviewed.hash)
        return FailureKind::ChangedSinceReview;
    if (unchanged)
        return FailureKind::NewContentDiffers; // the plan's change would not be made
    if (ContentHash(decision.newBytes) != reviewed.newHash)
        return FailureKind::NewContentDiffers;
    // The lines the reviewer saw, made again as the preview made them.
    PlanOptions shown;
    shown.withHunks = false;
    const PlannedFile planned =
        PlanFromDecision(operation, settings, relativePath, decision, shown);
    if (ChangesHash(planned.changes, planned.utf8Texts) != reviewed.changesHash)
        return FailureKind::NewContentDiffers;
    return std::nullopt;
}

} // namespace

RunResult ApplyPlan(const ReviewedPlan &plan, const BatchSettings &chosen,
                    const RunObserver &observer, RunOptions options)
{
    if (!PlanFitsFolders(plan.settings, chosen)) {
        RunResult refused;
        refused.refusal = messagePlanMismatch();
        return refused;
    }
    BatchSettings settings = plan.settings;
    settings.sourceDir = chosen.sourceDir;
    settings.saveInSource = chosen.saveInSource;
    settings.saveDir = chosen.saveInSource ? QString() : chosen.saveDir;
    settings.journal = chosen.journal;
    options.dryRun = false;
    options.keepOriginals = false;
    options.reviewed = &plan.files;
    // Checked where each file was decided, before its new bytes are written anywhere.
    options.decided = [&](const QString &relativePath, FileDecision &decision) {
        if (decision.outcome.kind == FileOutcome::Failed)
            return;
        const std::optional<FailureKind> mismatch = ReviewMismatch(
            plan.operation, settings, relativePath, decision, plan.files.value(relativePath));
        decision.original = QByteArray();
        if (!mismatch)
            return;
        FileDecision refused;
        refused.outcome = {FileOutcome::Failed, {*mismatch, QString()}, decision.outcome.bytes};
        decision = std::move(refused);
    };
    return RunBatch(plan.operation, settings, observer, options);
}
