#include "engine/search/ByteSearch.h"

#include "engine/codec/ByteChecks.h"
#include "engine/search/FindBytes.h"

#include <QTextCodec>

namespace {

const char *Find(const char *from, const char *end, const QByteArray &term)
{
    return FindBytes(from, end, term.constData(), term.size());
}

} // namespace

EncodedTerm::EncodedTerm(const QString &text)
{
    searchable =
        !text.isEmpty() && !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n'));
    if (!searchable)
        return;
    // The header flag keeps the UTF-8 encoder from putting a byte-order mark in front.
    QTextCodec::ConverterState utf8State(QTextCodec::IgnoreHeader);
    utf8 = Utf8Codec()->fromUnicode(text.constData(), text.size(), &utf8State);
    inUtf8 = utf8State.invalidChars == 0 && utf8State.remainingChars == 0;
    // A character that GBK only approximates would match bytes that decode to another one.
    QTextCodec *gbkCodec = GbkCodec();
    QTextCodec::ConverterState gbkState(QTextCodec::IgnoreHeader);
    gbk = gbkCodec->fromUnicode(text.constData(), text.size(), &gbkState);
    inGbk = gbkState.invalidChars == 0 && gbkState.remainingChars == 0 &&
            gbkCodec->toUnicode(gbk) == text;
    utf16Le = EncodeUtf16(text, true);
    utf16Be = EncodeUtf16(text, false);
}

const QByteArray *EncodedTerm::bytesIn(TextEncoding encoding) const
{
    if (!searchable)
        return nullptr;
    switch (encoding) {
    case TextEncoding::Utf16Le:
        return &utf16Le;
    case TextEncoding::Utf16Be:
        return &utf16Be;
    case TextEncoding::Utf8:
        return inUtf8 ? &utf8 : nullptr;
    case TextEncoding::Gb18030:
    case TextEncoding::Big5:
        return nullptr; // an ASCII digit may be part of a four-byte character; Big5: decoded
    case TextEncoding::Gbk:
        break;
    }
    return inGbk ? &gbk : nullptr;
}

std::vector<EncodedTerm> EncodeTerms(const QStringList &texts)
{
    std::vector<EncodedTerm> terms;
    terms.reserve(static_cast<size_t>(texts.size()));
    for (const QString &text : texts)
        terms.emplace_back(text);
    return terms;
}

ByteText::ByteText(const QByteArray &bytes, TextEncoding encoding)
    : begin(bytes.constData()), end(bytes.constData() + bytes.size()), encoding(encoding)
{
    switch (encoding) {
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be:
        begin += 2;
        end -= (end - begin) % 2;
        break;
    case TextEncoding::Utf8:
        if (bytes.startsWith("\xEF\xBB\xBF"))
            begin += 3;
        end -= Utf8CutOffTail(begin, end - begin); // not part of the decoded text
        break;
    case TextEncoding::Gbk:
        cleanGbk = IsCleanGbk(begin, end - begin);
        break;
    case TextEncoding::Gb18030:
    case TextEncoding::Big5:
        break; // an ASCII digit may be part of a four-byte character; Big5: decoded
    }
}

Presence ByteText::contains(const EncodedTerm &term) const
{
    if (!term.searchable)
        return Presence::Unknown;
    switch (encoding) {
    case TextEncoding::Utf8:
        // Well-formed UTF-8 resynchronises at every lead byte: any match is aligned.
        if (!term.inUtf8)
            return Presence::Unknown;
        return Find(begin, end, term.utf8) ? Presence::Present : Presence::Absent;
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be: {
        const QByteArray &units = encoding == TextEncoding::Utf16Le ? term.utf16Le : term.utf16Be;
        for (const char *at = Find(begin, end, units); at; at = Find(at + 1, end, units)) {
            if ((at - begin) % 2 == 0)
                return Presence::Present;
        }
        return Presence::Absent;
    }
    case TextEncoding::Gbk:
        break;
    case TextEncoding::Gb18030:
    case TextEncoding::Big5:
        return Presence::Unknown;
    }
    if (!cleanGbk || !term.inGbk)
        return Presence::Unknown;
    GbkCharStarts starts(begin);
    for (const char *at = Find(begin, end, term.gbk); at; at = Find(at + 1, end, term.gbk)) {
        if (starts.startsAt(at))
            return Presence::Present;
    }
    return Presence::Absent;
}
