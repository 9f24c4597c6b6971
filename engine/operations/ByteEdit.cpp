#include "engine/operations/ByteEdit.h"

#include "engine/codec/ByteChecks.h"
#include "engine/codec/Utf16Pieces.h"
#include "engine/journal/ContentHash.h"
#include "engine/search/FindBytes.h"

#include <QTextCodec>

#include <algorithm>
#include <cstring>

namespace {

// The text in the codec's encoding, when it encodes without loss and decodes back to itself.
bool EncodeExactly(QTextCodec *codec, const QString &text, QByteArray &bytes)
{
    // Without the header flag the UTF-8 codec adds a byte-order mark, or drops one read back.
    QTextCodec::ConverterState encodeState(QTextCodec::IgnoreHeader);
    bytes = codec->fromUnicode(text.constData(), text.size(), &encodeState);
    QTextCodec::ConverterState decodeState(QTextCodec::IgnoreHeader);
    return encodeState.invalidChars == 0 && encodeState.remainingChars == 0 &&
           codec->toUnicode(bytes.constData(), bytes.size(), &decodeState) == text;
}

// CR LF and every lone CR as one LF, as the decoded path normalises its text.
QByteArray LineFeedsOnly(const char *begin, const char *end)
{
    const char *cr = static_cast<const char *>(std::memchr(begin, '\r', size_t(end - begin)));
    if (!cr)
        return QByteArray::fromRawData(begin, int(end - begin));
    QByteArray text(int(end - begin), Qt::Uninitialized);
    char *out = text.data();
    std::memcpy(out, begin, size_t(cr - begin));
    out += cr - begin;
    // From one CR to the next, copied a line at a time.
    for (const char *in = cr; in < end;) {
        *out++ = '\n';
        ++in;
        if (in < end && *in == '\n')
            ++in;
        const char *next = static_cast<const char *>(std::memchr(in, '\r', size_t(end - in)));
        if (!next)
            next = end;
        std::memcpy(out, in, size_t(next - in));
        out += next - in;
        in = next;
    }
    text.truncate(int(out - text.constData()));
    return text;
}

// Every LF as CR LF, behind the prefix.
QByteArray WithCrLf(const QByteArray &prefix, const QByteArray &text)
{
    const char *begin = text.constData();
    const char *end = begin + text.size();
    int lineFeeds = 0;
    for (const char *at = begin;
         (at = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)))) != nullptr; ++at)
        ++lineFeeds;
    QByteArray bytes;
    bytes.reserve(prefix.size() + text.size() + lineFeeds);
    bytes += prefix;
    for (const char *from = begin; from < end;) {
        const char *lineFeed =
            static_cast<const char *>(std::memchr(from, '\n', size_t(end - from)));
        if (!lineFeed) {
            bytes.append(from, int(end - from));
            break;
        }
        bytes.append(from, int(lineFeed - from));
        bytes.append("\r\n", 2);
        from = lineFeed + 1;
    }
    return bytes;
}

// Clean GBK a character a unit: a lead byte and its trail byte as lead * 256 + trail, any
// other byte as itself.
std::vector<ushort> GbkUnits(const QByteArray &bytes)
{
    std::vector<ushort> units(size_t(bytes.size()));
    ushort *out = units.data();
    const auto *at = reinterpret_cast<const unsigned char *>(bytes.constData());
    const auto *const end = at + bytes.size();
    while (at < end) {
        if (*at >= 0x81 && *at <= 0xFE && at + 1 < end) {
            *out++ = ushort(at[0] << 8 | at[1]);
            at += 2;
        } else {
            *out++ = *at++;
        }
    }
    units.resize(size_t(out - units.data()));
    return units;
}

QByteArray GbkBytes(const std::vector<ushort> &units)
{
    QByteArray bytes(int(2 * units.size()), Qt::Uninitialized);
    char *out = bytes.data();
    for (const ushort unit : units) {
        if (unit > 0xFF)
            *out++ = char(unit >> 8);
        *out++ = char(unit);
    }
    bytes.truncate(int(out - bytes.constData()));
    return bytes;
}

// Every occurrence of find, left to right without overlap; in GBK only those that start at a
// character. True when there was one.
bool ReplaceAll(QByteArray &text, const QByteArray &find, const QByteArray &replacement, bool gbk,
                int &count)
{
    const char *begin = text.constData();
    const char *end = begin + text.size();
    GbkCharStarts starts(begin);
    QByteArray result;
    bool found = false;
    const char *copied = begin;
    for (const char *at = FindBytes(begin, end, find.constData(), find.size()); at;) {
        if (gbk && !starts.startsAt(at)) {
            at = FindBytes(at + 1, end, find.constData(), find.size());
            continue;
        }
        if (!found)
            result.reserve(text.size() + replacement.size() - find.size());
        found = true;
        ++count;
        result.append(copied, int(at - copied));
        result += replacement;
        copied = at + find.size();
        at = FindBytes(copied, end, find.constData(), find.size());
    }
    if (!found)
        return false;
    result.append(copied, int(end - copied));
    text = result;
    return true;
}

} // namespace

ByteEdit::ByteEdit(const QStringList &finds, const QStringList &replacements)
{
    givenPairs = std::min(finds.size(), replacements.size());
    for (int i = 0; i < givenPairs; ++i) {
        if (!finds.at(i).isEmpty()) {
            addPair(finds.at(i), replacements.at(i));
            pairIndexes.push_back(i);
        }
    }
    if (int(pairIndexes.size()) >= matchedPairsFrom) {
        std::vector<QString> texts[2];
        for (const int index : pairIndexes) {
            texts[0].push_back(finds.at(index));
            texts[1].push_back(replacements.at(index));
        }
        conflicts = std::make_shared<const PairConflicts>(FindPairConflicts(texts[0], texts[1]));
        if (utf8.exact) {
            auto pairs = std::make_shared<OrderedPairs<char>>(conflicts);
            for (const auto &[find, replacement] : utf8.pairs)
                pairs->add(find.constData(), find.size(), replacement.constData(),
                           replacement.size());
            pairs->finish();
            utf8Pairs = std::move(pairs);
        }
        if (gbk.exact) {
            auto pairs = std::make_shared<OrderedPairs<ushort>>(conflicts);
            for (const auto &[find, replacement] : gbk.pairs) {
                const std::vector<ushort> findUnits = GbkUnits(find);
                const std::vector<ushort> replacementUnits = GbkUnits(replacement);
                pairs->add(findUnits.data(), int(findUnits.size()), replacementUnits.data(),
                           int(replacementUnits.size()));
            }
            pairs->finish();
            gbkPairs = std::move(pairs);
        }
    }
}

ByteEdit::ByteEdit(const QString &insertText, bool atFront) : inserting(true), atFront(atFront)
{
    utf8.exact = EncodeExactly(Utf8Codec(), insertText, utf8.insert);
    gbk.exact = EncodeExactly(GbkCodec(), insertText, gbk.insert);
}

void ByteEdit::addPair(const QString &find, const QString &replacement)
{
    for (const TextEncoding encoding : {TextEncoding::Utf8, TextEncoding::Gbk}) {
        QTextCodec *codec = encoding == TextEncoding::Utf8 ? Utf8Codec() : GbkCodec();
        Encoded &encoded = encodedFor(encoding);
        std::pair<QByteArray, QByteArray> pair;
        encoded.exact = EncodeExactly(codec, find, pair.first) &&
                        EncodeExactly(codec, replacement, pair.second) && encoded.exact;
        encoded.pairs.push_back(std::move(pair));
    }
}

ByteEdit::Encoded &ByteEdit::encodedFor(TextEncoding encoding)
{
    return encoding == TextEncoding::Utf8 ? utf8 : gbk;
}

ByteEdit::Outcome ByteEdit::apply(const QByteArray &bytes, TextEncoding encoding, bool withBom,
                                  QByteArray &newBytes, std::vector<int> *hits) const
{
    const char *begin = bytes.constData();
    const char *end = begin + bytes.size();
    const QByteArray mark = QByteArrayLiteral("\xEF\xBB\xBF");
    const Encoded *encoded = nullptr;
    if (encoding == TextEncoding::Utf8) {
        if (bytes.startsWith(mark))
            begin += 3;
        if (Utf8CutOffTail(begin, end - begin) != 0)
            return Outcome::Unknown;
        encoded = &utf8;
    } else if (encoding == TextEncoding::Gbk) {
        if (!IsCleanGbk(begin, end - begin))
            return Outcome::Unknown;
        encoded = &gbk;
    }
    // A NUL byte makes an edited file a failure of its own, which the decoded path reports.
    if (!encoded || !encoded->exact || std::memchr(begin, '\0', size_t(end - begin)))
        return Outcome::Unknown;

    QByteArray text = LineFeedsOnly(begin, end);
    bool changed = inserting;
    std::vector<int> counts(inserting ? 1 : static_cast<size_t>(givenPairs), 0);
    if (inserting) {
        text = atFront ? encoded->insert + text : text + encoded->insert;
        counts[0] = 1;
    } else if (conflicts) {
        std::vector<int> pairCounts(pairIndexes.size(), 0);
        if (encoding == TextEncoding::Utf8) {
            std::vector<char> edited;
            changed = utf8Pairs->apply(text.constData(), text.size(), edited, pairCounts.data());
            if (changed)
                text = QByteArray(edited.data(), int(edited.size()));
        } else {
            // GBK a character a unit: every match then starts at a character.
            const std::vector<ushort> units = GbkUnits(text);
            std::vector<ushort> edited;
            changed = gbkPairs->apply(units.data(), int(units.size()), edited, pairCounts.data());
            if (changed)
                text = GbkBytes(edited);
        }
        for (size_t i = 0; i < pairCounts.size(); ++i)
            counts[size_t(pairIndexes[i])] = pairCounts[i];
    } else {
        for (size_t i = 0; i < encoded->pairs.size(); ++i) {
            const auto &pair = encoded->pairs[i];
            changed = ReplaceAll(text, pair.first, pair.second, encoding == TextEncoding::Gbk,
                                 counts[static_cast<size_t>(pairIndexes[i])]) ||
                      changed;
        }
    }
    if (hits)
        *hits = std::move(counts);
    if (!changed)
        return Outcome::Unchanged;
    // As EncodeText: a text that begins with U+FEFF gets the mark in front of it.
    const bool withMark = encoding == TextEncoding::Utf8 && (withBom || text.startsWith(mark));
    newBytes = WithCrLf(withMark ? mark : QByteArray(), text);
    return Outcome::Changed;
}

namespace {

// Room for what a step is about to append, made once: growing a piece's string a line at a
// time costs more than the edit.
void Reserve(std::string &text, size_t size)
{
    if (size > text.capacity())
        text.reserve(size);
}

} // namespace

// ByteEdit::apply's steps, each on the text as it passes a piece at a time: line ends made
// single line feeds, each pair in turn (holding back the bytes a match may still begin in),
// every line feed written as CR LF behind the byte-order mark that apply would give.
class ByteEditStream
{
public:
    ByteEditStream(const ByteEdit &edit, TextEncoding encoding, bool withBom,
                   const EditWrite &write)
        : edit(edit), encoded(encoding == TextEncoding::Gbk ? edit.gbk : edit.utf8),
          gbk(encoding == TextEncoding::Gbk), marks(encoding == TextEncoding::Utf8),
          withBom(withBom), write(write)
    {
        changed = edit.inserting;
        stages.resize(encoded.pairs.size());
        inPlace = !stages.empty() &&
                  std::all_of(encoded.pairs.begin(), encoded.pairs.end(), [](const auto &pair) {
                      return pair.first.size() == pair.second.size();
                  });
        hits.assign(edit.inserting ? 1 : static_cast<size_t>(edit.givenPairs), 0);
        if (edit.inserting)
            hits[0] = 1;
    }

    // Every text of the operation encodes, and decodes back to itself.
    bool exact() const { return encoded.exact; }

    // The next piece of the text, the file's mark left out, cut where a character ends.
    void feed(const char *data, qint64 size)
    {
        // Each step appends to the next one's input, behind what that one held back.
        std::string &into = inPlace ? window : stages.empty() ? text : stages.front().held;
        const char *at = data;
        const char *const end = data + size;
        if (crBefore && at < end && *at == '\n')
            ++at;
        crBefore = false;
        Reserve(into, into.size() + size_t(end - at) + size_t(encoded.insert.size()));
        if (!started && edit.inserting && edit.atFront)
            into.append(encoded.insert.constData(), size_t(encoded.insert.size()));
        started = true;
        while (at < end) {
            const char *cr = static_cast<const char *>(std::memchr(at, '\r', size_t(end - at)));
            if (!cr) {
                into.append(at, size_t(end - at));
                break;
            }
            into.append(at, size_t(cr - at));
            into += '\n';
            at = cr + 1;
            if (at == end)
                crBefore = true; // its LF, if any, starts the next piece
            else if (*at == '\n')
                ++at;
        }
        if (inPlace) {
            replaceInPlace(false);
            emitWindow(settled.back(), false);
            return;
        }
        for (size_t i = 0; i < stages.size(); ++i)
            replace(i, false);
        emit(false);
    }

    void finish()
    {
        if (!started)
            feed(nullptr, 0);
        if (inPlace) {
            replaceInPlace(true);
            if (edit.inserting && !edit.atFront)
                window.append(encoded.insert.constData(), size_t(encoded.insert.size()));
            emitWindow(window.size(), true);
            return;
        }
        for (size_t i = 0; i < stages.size(); ++i)
            replace(i, true);
        if (edit.inserting && !edit.atFront)
            text.append(encoded.insert.constData(), size_t(encoded.insert.size()));
        emit(true);
    }

    bool changed;
    bool writeFailed = false;
    std::vector<int> hits; // as ByteEdit::apply counts them

private:
    // One pair on its input, behind what it held back; the output goes to the next step.
    void replace(size_t index, bool last)
    {
        Stage &stage = stages[index];
        std::string &into = index + 1 < stages.size() ? stages[index + 1].held : text;
        const QByteArray &find = encoded.pairs[index].first;
        const QByteArray &replacement = encoded.pairs[index].second;
        const char *const begin = stage.held.data();
        const char *const end = begin + stage.held.size();
        const auto next = [&](const char *from) {
            return FindBytes(from, end, find.constData(), find.size());
        };
        GbkCharStarts starts(begin);
        const char *copied = begin;
        Reserve(into, into.size() + stage.held.size() + stage.held.size() / 8);
        int &count = hits[static_cast<size_t>(edit.pairIndexes[index])];
        for (const char *at = next(begin); at;) {
            if (gbk && !starts.startsAt(at)) {
                at = next(at + 1);
                continue;
            }
            changed = true;
            ++count;
            into.append(copied, size_t(at - copied));
            into.append(replacement.constData(), size_t(replacement.size()));
            copied = at + find.size();
            at = next(copied);
        }
        // A match that starts before the held-back bytes ends within what was searched.
        const char *hold =
            last ? end : std::max(copied, end - std::min<qint64>(end - begin, find.size() - 1));
        if (gbk && hold < end)
            hold = begin +
                   GbkCharacterStart(reinterpret_cast<const unsigned char *>(begin), hold - begin);
        into.append(copied, size_t(hold - copied));
        stage.held.erase(0, size_t(hold - begin));
    }

    // Pairs whose find and replacement are as long as each other are replaced where they
    // stand, in one window, each pair behind the one before: the text is not copied once a
    // pair. settled[i] is where pair i may still change the window.
    void replaceInPlace(bool last)
    {
        settled.resize(stages.size(), 0);
        char *const begin = &window[0];
        for (size_t index = 0; index < stages.size(); ++index) {
            const QByteArray &find = encoded.pairs[index].first;
            const QByteArray &replacement = encoded.pairs[index].second;
            char *const from = begin + settled[index];
            char *const end = begin + (index == 0 ? window.size() : settled[index - 1]);
            const auto next = [&](const char *at) {
                return const_cast<char *>(FindBytes(at, end, find.constData(), find.size()));
            };
            GbkCharStarts starts(from);
            const char *copied = from;
            int &count = hits[static_cast<size_t>(edit.pairIndexes[index])];
            for (char *at = next(from); at;) {
                if (gbk && !starts.startsAt(at)) {
                    at = next(at + 1);
                    continue;
                }
                changed = true;
                ++count;
                std::memcpy(at, replacement.constData(), size_t(replacement.size()));
                copied = at + find.size();
                at = next(copied);
            }
            const char *hold =
                last ? end
                     : std::max<const char *>(copied,
                                              end - std::min<qint64>(end - from, find.size() - 1));
            if (gbk && hold < end)
                hold = from + GbkCharacterStart(reinterpret_cast<const unsigned char *>(from),
                                                hold - from);
            settled[index] = size_t(hold - begin);
        }
    }

    // The window's first size bytes are final: on to the writer, and out of the window.
    void emitWindow(size_t size, bool last)
    {
        emit(window.data(), size, last);
        window.erase(0, size);
        for (size_t &at : settled)
            at -= std::min(at, size);
    }

    void emit(bool last)
    {
        emit(text.data(), text.size(), last);
        text.clear();
    }

    void emit(const char *data, size_t size, bool last)
    {
        // A pass that only decides writes nothing: its text need not be made.
        if (!write)
            return;
        if (!headDone) {
            // As EncodeText: a text that begins with U+FEFF gets the mark in front of it.
            head.append(data, size);
            if (head.size() < 3 && !last)
                return;
            headDone = true;
            if (marks && (withBom || head.compare(0, 3, "\xEF\xBB\xBF") == 0))
                put("\xEF\xBB\xBF", 3);
            data = head.data();
            size = head.size();
        }
        out.clear();
        Reserve(out, size + size / 4 + 16);
        const char *at = data;
        const char *const end = at + size;
        while (at < end) {
            const char *lf = static_cast<const char *>(std::memchr(at, '\n', size_t(end - at)));
            if (!lf) {
                out.append(at, size_t(end - at));
                break;
            }
            out.append(at, size_t(lf - at));
            out += "\r\n";
            at = lf + 1;
        }
        put(out.data(), qint64(out.size()));
        head.clear();
    }

    void put(const char *data, qint64 size)
    {
        if (write && size > 0 && !writeFailed && !write(data, size))
            writeFailed = true;
    }

    struct Stage
    {
        std::string held; // bytes a match may still begin in
    };
    const ByteEdit &edit;
    const ByteEdit::Encoded &encoded;
    const bool gbk;
    const bool marks; // UTF-8 written as such, not on its way back to UTF-16
    const bool withBom;
    const EditWrite &write;
    std::vector<Stage> stages;
    std::string text; // the piece between steps
    bool inPlace = false;
    std::string window; // in place: the text not yet written
    std::vector<size_t> settled;
    std::string head; // the first bytes, until the mark is known
    std::string out;
    bool crBefore = false; // the last piece ended with CR
    bool started = false;
    bool headDone = false;
};

namespace {

// One pass over the file as that encoding; restart set when it turned out not to be UTF-8,
// utf16 when a byte-order mark says UTF-16. Text of that encoding comes in as UTF-8.
StreamedEdit::Result EditPass(const ByteEdit &edit, TextEncoding textEncoding, bool detectUtf16,
                              bool withBom, const ChunkReader &read, const EditWrite &write,
                              ContentHasher *hasher, qint64 chunk, bool &restart,
                              std::optional<TextEncoding> &utf16, std::vector<int> &hits)
{
    restart = false;
    const bool fromUtf16 =
        textEncoding == TextEncoding::Utf16Le || textEncoding == TextEncoding::Utf16Be;
    const TextEncoding encoding = fromUtf16 ? TextEncoding::Utf8 : textEncoding;
    chunk = std::max<qint64>(chunk, 4);
    const qint64 capacity = 3 * chunk;
    const qint64 align = 64;
    const AlignedStreamBuffer storage(capacity + align);
    char *const aligned = storage.data();
    char *buffer = aligned;
    ByteEditStream stream(edit, textEncoding, withBom, write);
    qint64 held = 0;
    qint64 offset = 0; // the file offset of the buffer's first byte
    qint64 textStart = 0;
    bool end = false;
    for (;;) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(buffer);
        const qint64 wanted = std::min(capacity, held + chunk);
        while (held < wanted && !end) {
            qint64 got = 0;
            if (!read(buffer + held, wanted - held, got))
                return StreamedEdit::ReadFailed;
            end = got == 0;
            held += got;
        }
        if (offset == 0) {
            if (detectUtf16 && held >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
                utf16 = TextEncoding::Utf16Le;
            else if (detectUtf16 && held >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
                utf16 = TextEncoding::Utf16Be;
            if (utf16 || !stream.exact())
                return StreamedEdit::NeedsWholeFile;
            // Big5, a guess between the two, or GB18030 is decided on the whole file, and so
            // is a start too short to tell.
            if (!fromUtf16 && encoding == TextEncoding::Gbk &&
                ((!end && held < legacyDetectionBytes) || !BeginsAsSureGbk(buffer, held)))
                return StreamedEdit::NeedsWholeFile;
            textStart = !fromUtf16 && encoding == TextEncoding::Utf8 && held >= 3 &&
                                std::memcmp(buffer, "\xEF\xBB\xBF", 3) == 0
                            ? 3
                            : 0;
        }
        const qint64 cut = end ? held : CharacterEnd(encoding, bytes, 0, held, offset);
        if (cut == 0 && !end) {
            if (held == capacity)
                return StreamedEdit::NeedsWholeFile;
            continue;
        }
        if (fromUtf16) {
            // Made from well-formed UTF-16 by Utf16ToUtf8: whole characters, well-formed.
        } else if (encoding == TextEncoding::Utf8) {
            if (end && Utf8CutOffTail(buffer, cut) != 0)
                return StreamedEdit::NeedsWholeFile;
            if (!IsValidUtf8(buffer, cut)) {
                restart = true;
                return StreamedEdit::NeedsWholeFile;
            }
        } else if (!IsCleanGbk(buffer, cut)) {
            return StreamedEdit::NeedsWholeFile;
        }
        // A NUL byte makes an edited file a failure of its own, which the decoded path reports.
        if (std::memchr(buffer, '\0', size_t(cut)))
            return StreamedEdit::NeedsWholeFile;
        if (hasher)
            hasher->add(buffer, cut);
        const qint64 skip = std::max<qint64>(0, textStart - offset);
        stream.feed(buffer + skip, cut - skip);
        if (end) {
            stream.finish();
            if (stream.writeFailed)
                return StreamedEdit::WriteFailed;
            hits = std::move(stream.hits);
            return stream.changed ? StreamedEdit::Changed : StreamedEdit::Unchanged;
        }
        if (stream.writeFailed)
            return StreamedEdit::WriteFailed;
        held -= cut;
        char *const moved = aligned + (-held & (align - 1));
        std::memmove(moved, buffer + cut, size_t(held));
        buffer = moved;
        offset += cut;
    }
}

// A UTF-16 file edited as the UTF-8 it turns into, its new UTF-8 turned back: the decoded
// path's bytes, as both keep every character and write the mark and CR LF alike. Lone
// surrogates, NUL characters and an odd last byte are left to that path.
StreamedEdit::Result Utf16EditPass(const ByteEdit &edit, TextEncoding encoding,
                                   const ChunkReader &read, const EditWrite &write,
                                   ContentHasher *hasher, qint64 chunk, std::vector<int> &hits)
{
    const bool little = encoding == TextEncoding::Utf16Le;
    Utf16ToUtf8 decoder(little);
    std::vector<char> raw(size_t(std::max<qint64>(chunk, 4)));
    std::string utf8;
    size_t served = 0;
    qint64 position = 0; // of the raw bytes
    bool rawEnd = false;
    bool unconvertible = false;
    const ChunkReader asUtf8 = [&](char *data, qint64 size, qint64 &got) {
        while (served == utf8.size() && !rawEnd) {
            utf8.clear();
            served = 0;
            qint64 rawGot = 0;
            if (!read(raw.data(), qint64(raw.size()), rawGot))
                return false;
            if (hasher)
                hasher->add(raw.data(), rawGot);
            const qint64 mark = std::min<qint64>(std::max<qint64>(2 - position, 0), rawGot);
            position += rawGot;
            rawEnd = rawGot == 0;
            if ((rawEnd && !decoder.complete()) ||
                !decoder.add(raw.data() + mark, rawGot - mark, utf8)) {
                unconvertible = true;
                return false;
            }
        }
        got = std::min<qint64>(size, qint64(utf8.size() - served));
        std::memcpy(data, utf8.data() + served, size_t(got));
        served += size_t(got);
        return true;
    };
    Utf8ToUtf16 encoder(little);
    std::string utf16;
    bool marked = false;
    const auto put = [&](const char *data, qint64 size) {
        utf16.clear();
        if (!marked)
            utf16 = little ? "\xFF\xFE" : "\xFE\xFF";
        marked = true;
        encoder.add(data, size, utf16);
        return utf16.empty() || write(utf16.data(), qint64(utf16.size()));
    };
    bool restart = false;
    std::optional<TextEncoding> utf16Mark;
    StreamedEdit::Result result =
        EditPass(edit, encoding, false, false, asUtf8, write ? EditWrite(put) : EditWrite(),
                 nullptr, chunk, restart, utf16Mark, hits);
    if (unconvertible)
        return StreamedEdit::NeedsWholeFile;
    // An empty new text is its mark alone.
    if (result == StreamedEdit::Changed && write && !marked && !put(nullptr, 0))
        return StreamedEdit::WriteFailed;
    return result;
}

} // namespace

StreamedEdit EditStream(const ByteEdit &edit, bool detectUtf16, bool withBom,
                        const ChunkReader &read, const ChunkRewind &rewind, const EditWrite &write,
                        bool hashOriginal, std::optional<TextEncoding> known, qint64 chunk,
                        bool utf16InPieces)
{
    Q_ASSERT(known || !write);
    StreamedEdit edited;
    edited.encoding = known.value_or(TextEncoding::Utf8);
    const auto editUtf16 = [&] {
        ContentHasher hasher;
        edited.result = Utf16EditPass(edit, edited.encoding, read, write,
                                      hashOriginal ? &hasher : nullptr, chunk, edited.hits);
        edited.originalHash = hasher.hash();
        return edited;
    };
    if (edited.encoding == TextEncoding::Utf16Le || edited.encoding == TextEncoding::Utf16Be)
        return editUtf16();
    for (;;) {
        ContentHasher hasher;
        bool restart = false;
        std::optional<TextEncoding> utf16;
        edited.result =
            EditPass(edit, edited.encoding, detectUtf16, withBom, read, write,
                     hashOriginal ? &hasher : nullptr, chunk, restart, utf16, edited.hits);
        if (utf16 && utf16InPieces) {
            // The mark settles the encoding, whatever the caller took the file for.
            edited.encoding = *utf16;
            if (!rewind()) {
                edited.result = StreamedEdit::ReadFailed;
                return edited;
            }
            return editUtf16();
        }
        edited.originalHash = hasher.hash();
        edited.notUtf8 = restart;
        // Not UTF-8: the file is GBK, checked and edited from its first byte again.
        if (!restart || known || edited.encoding == TextEncoding::Gbk)
            return edited;
        if (!rewind()) {
            edited.result = StreamedEdit::ReadFailed;
            return edited;
        }
        edited.encoding = TextEncoding::Gbk;
    }
}
