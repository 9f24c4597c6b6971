#include "engine/operations/ByteEdit.h"

#include "engine/codec/ByteChecks.h"
#include "engine/search/FindBytes.h"

#include <QTextCodec>

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
    for (const char *in = cr; in < end; ++in) {
        if (*in != '\r') {
            *out++ = *in;
            continue;
        }
        *out++ = '\n';
        if (in + 1 < end && in[1] == '\n')
            ++in;
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
