#include "engine/codec/TextCodec.h"

#include "engine/codec/ByteChecks.h"
#include "engine/files/FileIo.h"
#include "platform/CodePage936.h"
#include "platform/CodePages.h"

#include <QTextCodec>
#include <QtEndian>
#include <uchardet/uchardet.h>

#include <algorithm>

namespace {

// Qt without ICU has a GBK of its own that differs from Windows' code page 936 at single
// bytes 80 to FF (no euro sign); Windows' own tables read and write GBK as Notepad does, and
// as ICU's windows-936 on other systems.
class WindowsGbkCodec : public QTextCodec
{
public:
    QByteArray name() const override { return QByteArrayLiteral("Parafold-Windows-936"); }
    int mibEnum() const override { return -936; }

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *) const override
    {
        return QString::fromStdU16String(platform::DecodeCodePage936(in, length));
    }
    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override
    {
        bool unmappable = false;
        const std::string bytes =
            platform::EncodeCodePage936(reinterpret_cast<const char16_t *>(in), length, unmappable);
        // Nothing beyond the Basic Multilingual Plane is GBK, whether or not the system's
        // table says so (wine's gives a default character without a word).
        unmappable =
            unmappable || std::any_of(in, in + length, [](QChar c) { return c.isSurrogate(); });
        if (state && unmappable)
            ++state->invalidChars;
        return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
    }
};

// The same for GB18030 (code page 54936) and Big5 (code page 950).
class WindowsCodePageCodec : public QTextCodec
{
public:
    WindowsCodePageCodec(platform::CodePage codePage, QByteArray name, int mib)
        : codePage(codePage), codecName(std::move(name)), mib(mib)
    {}
    QByteArray name() const override { return codecName; }
    int mibEnum() const override { return mib; }

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *) const override
    {
        return QString::fromStdU16String(platform::DecodeCodePage(codePage, in, length));
    }
    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override
    {
        bool unmappable = false;
        const std::string bytes = platform::EncodeCodePage(
            codePage, reinterpret_cast<const char16_t *>(in), length, unmappable);
        if (state && unmappable)
            ++state->invalidChars;
        return QByteArray(bytes.data(), static_cast<int>(bytes.size()));
    }

private:
    const platform::CodePage codePage;
    const QByteArray codecName;
    const int mib;
};

// GB18030 as its 2005 edition reads it, from a codec of the 2000 edition (Qt's own, and
// Windows' code page 54936 on some systems): the two differ only in that A8 BC and
// 81 35 F4 37 trade U+E7C7 and U+1E3F. So a file reads the same on every system.
class Gb18030From2000 : public QTextCodec
{
public:
    explicit Gb18030From2000(QTextCodec *base) : base(base) {}
    QByteArray name() const override { return QByteArrayLiteral("Parafold-GB18030-2005"); }
    int mibEnum() const override { return -18030; }

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *state) const override
    {
        return Swapped(base->toUnicode(in, length, state));
    }
    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override
    {
        const QString text = Swapped(QString(in, length));
        return base->fromUnicode(text.constData(), text.size(), state);
    }

private:
    static QString Swapped(QString text)
    {
        for (QChar &c : text) {
            if (c.unicode() == 0xE7C7)
                c = QChar(0x1E3F);
            else if (c.unicode() == 0x1E3F)
                c = QChar(0xE7C7);
        }
        return text;
    }

    QTextCodec *const base;
};

// GB18030 beyond the Basic Multilingual Plane is arithmetic: four-byte sequences from
// 90 30 81 30 count up from U+10000. Where the codec underneath gets them wrong (Qt's own
// reads them as U+0000, wine's code page 54936 as nothing), they are done here and the rest
// is left to it.
class Gb18030Planes : public QTextCodec
{
public:
    explicit Gb18030Planes(QTextCodec *base) : base(base) {}
    QByteArray name() const override { return QByteArrayLiteral("Parafold-GB18030-planes"); }
    int mibEnum() const override { return -18031; }

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *state) const override
    {
        const auto *bytes = reinterpret_cast<const unsigned char *>(in);
        QString text;
        int run = 0; // start of the bytes not yet handed to the codec underneath
        int at = 0;
        while (at < length) {
            if (bytes[at] < 0x80) {
                ++at;
                continue;
            }
            const bool fourBytes = at + 3 < length && bytes[at + 1] >= 0x30 &&
                                   bytes[at + 1] <= 0x39 && bytes[at + 2] >= 0x81 &&
                                   bytes[at + 2] <= 0xFE && bytes[at + 3] >= 0x30 &&
                                   bytes[at + 3] <= 0x39;
            if (!fourBytes) {
                at += 2;
                continue;
            }
            const char32_t linear =
                ((char32_t(bytes[at] - 0x90) * 10 + (bytes[at + 1] - 0x30)) * 126 +
                 (bytes[at + 2] - 0x81)) *
                    10 +
                (bytes[at + 3] - 0x30);
            if (bytes[at] >= 0x90 && bytes[at] <= 0xE3 && linear < 0x100000) {
                text += base->toUnicode(in + run, at - run, state);
                const char32_t codePoint = 0x10000 + linear;
                text += QString::fromUcs4(&codePoint, 1);
                run = at + 4;
            }
            at += 4;
        }
        return text + base->toUnicode(in + run, length - run, state);
    }
    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override
    {
        QByteArray bytes;
        // Runs between characters beyond the plane go to the codec underneath on a state of
        // their own: Qt's own GB18030 reports a character left over after every call.
        const auto encodeRun = [&](int from, int to) {
            ConverterState run(state ? state->flags : DefaultConversion);
            bytes += base->fromUnicode(in + from, to - from, &run);
            if (state)
                state->invalidChars += run.invalidChars;
        };
        int run = 0;
        for (int at = 0; at < length; ++at) {
            if (!in[at].isSurrogate())
                continue;
            encodeRun(run, at);
            run = at + 1;
            if (at + 1 == length || !in[at].isHighSurrogate() || !in[at + 1].isLowSurrogate()) {
                // A lone surrogate is no character, in any encoding.
                if (state)
                    ++state->invalidChars;
                continue;
            }
            char32_t linear = QChar::surrogateToUcs4(in[at], in[at + 1]) - 0x10000;
            char sequence[4];
            sequence[3] = char(0x30 + linear % 10);
            linear /= 10;
            sequence[2] = char(0x81 + linear % 126);
            linear /= 126;
            sequence[1] = char(0x30 + linear % 10);
            sequence[0] = char(0x90 + linear / 10);
            bytes.append(sequence, 4);
            run = at + 2;
            ++at;
        }
        encodeRun(run, length);
        return bytes;
    }

private:
    QTextCodec *const base;
};

} // namespace

QTextCodec *GbkCodec()
{
    // Qt owns every codec made and deletes it at exit.
    static QTextCodec *const codec = platform::HasCodePage936()
                                         ? static_cast<QTextCodec *>(new WindowsGbkCodec)
                                         : QTextCodec::codecForName("GBK");
    return codec;
}

QTextCodec *Utf8Codec()
{
    static QTextCodec *const codec = QTextCodec::codecForMib(106);
    return codec;
}

namespace {

// Whether a GB18030 codec reads four-byte sequences as the standard does, within the Basic
// Multilingual Plane and beyond it.
bool ReadsFourByteSequences(QTextCodec *codec)
{
    const char32_t beyond = 0x10000;
    return codec->toUnicode(QByteArrayLiteral("\x81\x30\x81\x30\x90\x30\x81\x30")) ==
           QString(QChar(0x80)) + QString::fromUcs4(&beyond, 1);
}

} // namespace

QTextCodec *Gb18030Codec()
{
    static QTextCodec *const codec = [] {
        QTextCodec *base =
            platform::HasCodePages()
                ? new WindowsCodePageCodec(platform::CodePage::Gb18030,
                                           QByteArrayLiteral("Parafold-Windows-54936"), -54936)
                : QTextCodec::codecForName("GB18030");
        if (base->toUnicode(QByteArrayLiteral("\xA8\xBC")) == QString(QChar(0xE7C7)))
            base = new Gb18030From2000(base);
        if (!ReadsFourByteSequences(base))
            base = new Gb18030Planes(base);
        return base;
    }();
    return codec;
}

QTextCodec *Big5Codec()
{
    static QTextCodec *const codec = [] {
        if (platform::HasCodePages())
            return static_cast<QTextCodec *>(new WindowsCodePageCodec(
                platform::CodePage::Big5, QByteArrayLiteral("Parafold-Windows-950"), -950));
        // ICU knows Windows' table by this name; Qt without ICU has only its own Big5.
        QTextCodec *windows = QTextCodec::codecForName("windows-950");
        return windows ? windows : QTextCodec::codecForName("Big5");
    }();
    return codec;
}

namespace {

DecodedText DecodeUtf16(const QByteArray &bytes, TextEncoding encoding)
{
    // Decoded by hand: the codec's own byte-order-mark handling would also eat a second mark
    // that belongs to the content.
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData()) + 2;
    const int units = (bytes.size() - 2) / 2;
    QString text(units, Qt::Uninitialized);
    QChar *out = text.data();
    const bool little = encoding == TextEncoding::Utf16Le;
    for (int i = 0; i < units; ++i) {
        const ushort unit = little ? qFromLittleEndian<quint16>(data + 2 * i)
                                   : qFromBigEndian<quint16>(data + 2 * i);
        out[i] = QChar(unit);
    }
    // An odd final byte has no character; writing back would drop it.
    const bool lossless = (bytes.size() - 2) % 2 == 0;
    return {std::move(text), encoding, lossless};
}

QTextCodec *LegacyCodec(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Gb18030:
        return Gb18030Codec();
    case TextEncoding::Big5:
        return Big5Codec();
    default:
        return GbkCodec();
    }
}

DecodedText DecodeMultiByte(const QByteArray &bytes, TextEncoding encoding, bool proveLossless)
{
    // These decoders never report bad input, so only a round trip proves the text whole.
    QTextCodec *codec = LegacyCodec(encoding);
    QString text = codec->toUnicode(bytes);
    const bool lossless = !proveLossless || codec->fromUnicode(text) == bytes;
    return {std::move(text), encoding, lossless};
}

} // namespace

namespace {

// What the detector names the bytes' encoding, as it spells it ("BIG5", "GB18030"), or
// nothing when it cannot tell. Fed in slices: it stops looking once it is sure.
QByteArray DetectorAnswer(const char *data, qsizetype size)
{
    const uchardet_t detector = uchardet_new();
    if (!detector)
        return QByteArray();
    const qsizetype slice = 4096;
    for (qsizetype at = 0; at < size; at += slice) {
        if (uchardet_handle_data(detector, data + at, size_t(std::min(slice, size - at))) != 0)
            break;
    }
    uchardet_data_end(detector);
    QByteArray answer(uchardet_get_charset(detector));
    uchardet_delete(detector);
    return answer;
}

// Counts the two-byte characters of clean GBK bytes whose lead and trail fit.
template <typename Fits> int CountPairs(const char *data, qsizetype size, Fits fits)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    int count = 0;
    for (qsizetype i = 0; i + 1 < size; ++i) {
        if (bytes[i] < 0x81)
            continue;
        count += fits(bytes[i], bytes[i + 1]) ? 1 : 0;
        ++i;
    }
    return count;
}

// Read as GBK: punctuation and GB2312's first level of characters, the commonest 3,755.
int CommonInGbk(const char *data, qsizetype size)
{
    return CountPairs(data, size, [](unsigned char lead, unsigned char trail) {
        return trail >= 0xA1 && ((lead >= 0xA1 && lead <= 0xA3) || (lead >= 0xB0 && lead <= 0xD7));
    });
}

// Read as Big5: punctuation (A1 40 to A3 BF) and the first level of characters, the
// commonest 5,401 (A4 40 to C6 7E).
int CommonInBig5(const char *data, qsizetype size)
{
    return CountPairs(data, size, [](unsigned char lead, unsigned char trail) {
        const int code = lead << 8 | trail;
        return (code >= 0xA140 && code <= 0xA3BF) || (code >= 0xA440 && code <= 0xC67E);
    });
}

// GBK or Big5 for bytes that are clean GBK, from their first legacyDetectionBytes.
EncodingDecision GbkOrBig5(const char *data, qsizetype size)
{
    size = std::min(size, legacyDetectionBytes);
    // Most GBK files settle in their first bytes, at little cost: a trail byte 80-A0 is GBK's
    // alone, and in Big5 about two characters in five end in 40-7E, which GB2312's simplified
    // characters never do.
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    const qsizetype glance = std::min<qsizetype>(size, 1024);
    int characters = 0;
    int lowTrails = 0;
    for (qsizetype i = 0; i + 1 < glance; ++i) {
        if (bytes[i] < 0x81)
            continue;
        const unsigned char trail = bytes[++i];
        if (trail > 0x7E && trail < 0xA1)
            return {TextEncoding::Gbk, std::nullopt};
        ++characters;
        lowTrails += trail <= 0x7E ? 1 : 0;
    }
    if (characters >= 64 && lowTrails * 5 < characters)
        return {TextEncoding::Gbk, std::nullopt};
    if (!IsCleanBig5Prefix(data, size))
        return {TextEncoding::Gbk, std::nullopt};
    const QByteArray answer = DetectorAnswer(data, size);
    if (answer == "BIG5")
        return {TextEncoding::Big5, std::nullopt};
    if (answer == "GB18030")
        return {TextEncoding::Gbk, std::nullopt};
    // Too little text for the detector: GBK, as ever, unless more of its characters are among
    // Big5's commonest than among GBK's, when it may as well be Big5.
    if (CommonInBig5(data, size) > CommonInGbk(data, size))
        return {TextEncoding::Gbk, TextEncoding::Big5};
    return {TextEncoding::Gbk, std::nullopt};
}

EncodingDecision NotUtf8Encoding(const QByteArray &bytes, Gb18030Check check)
{
    const char *data = bytes.constData();
    const qsizetype size = bytes.size();
    if (!IsCleanGbk(data, size)) {
        if (IsWellFormedGb18030(data, size))
            return {TextEncoding::Gb18030, std::nullopt};
        return {TextEncoding::Gbk, std::nullopt}; // as before: a rewrite proves it lossy
    }
    EncodingDecision decision = GbkOrBig5(data, size);
    const qsizetype checked =
        check == Gb18030Check::WholeFile ? size : std::min(size, gb18030CheckBytes);
    if (decision.encoding == TextEncoding::Gbk && HoldsGb18030OnlyPair(data, checked) &&
        IsWellFormedGb18030(data, size))
        decision.encoding = TextEncoding::Gb18030;
    return decision;
}

} // namespace

EncodingDecision DetectEncoding(const QByteArray &bytes, bool detectUtf16, Gb18030Check check)
{
    if (detectUtf16 && bytes.startsWith("\xFF\xFE"))
        return {TextEncoding::Utf16Le, std::nullopt};
    if (detectUtf16 && bytes.startsWith("\xFE\xFF"))
        return {TextEncoding::Utf16Be, std::nullopt};
    const int cutOff = Utf8CutOffTail(bytes.constData(), bytes.size());
    if (!IsValidUtf8(bytes.constData(), bytes.size() - cutOff))
        return NotUtf8Encoding(bytes, check);
    // A cut-off last character is no valid UTF-8 either: "ver 2: 濂" in GBK ends in E5 A5.
    // Bytes that are clean GBK are read as legacy bytes; others stay a UTF-8 file that lost
    // its tail, searched as far as it goes and unfit for writing back.
    if (cutOff > 0 && IsCleanGbk(bytes.constData(), bytes.size()))
        return NotUtf8Encoding(bytes, check);
    return {TextEncoding::Utf8, std::nullopt};
}

TextEncoding DecideEncoding(const QByteArray &bytes, bool detectUtf16)
{
    return DetectEncoding(bytes, detectUtf16).encoding;
}

bool BeginsAsSureGbk(const char *data, qsizetype size)
{
    const EncodingDecision decision = GbkOrBig5(data, size);
    return decision.encoding == TextEncoding::Gbk && !decision.rival &&
           !HoldsGb18030OnlyPair(data, std::min(size, gb18030CheckBytes));
}

const char *EncodingName(TextEncoding encoding, const QByteArray &bytes)
{
    switch (encoding) {
    case TextEncoding::Utf16Le:
        return "UTF-16LE";
    case TextEncoding::Utf16Be:
        return "UTF-16BE";
    case TextEncoding::Utf8:
        return bytes.startsWith("\xEF\xBB\xBF") ? "UTF-8 BOM" : "UTF-8";
    case TextEncoding::Gb18030:
        return "GB18030";
    case TextEncoding::Big5:
        return "Big5";
    case TextEncoding::Gbk:
        break;
    }
    return "GBK";
}

QString EncodingCandidates(TextEncoding first, TextEncoding second)
{
    return QLatin1String(EncodingName(first, QByteArray())) + QLatin1String(", ") +
           QLatin1String(EncodingName(second, QByteArray()));
}

DecodedText DecodeBytes(const QByteArray &bytes, TextEncoding encoding, bool proveLossless)
{
    switch (encoding) {
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be:
        return DecodeUtf16(bytes, encoding);
    case TextEncoding::Utf8: {
        // Only the first mark is dropped; QString::fromUtf8 would take a second one as well.
        const int skip = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        QString text =
            Utf8Codec()->toUnicode(bytes.constData() + skip, bytes.size() - skip, &state);
        const bool lossless = Utf8CutOffTail(bytes.constData(), bytes.size()) == 0;
        return {std::move(text), encoding, lossless};
    }
    case TextEncoding::Gbk:
    case TextEncoding::Gb18030:
    case TextEncoding::Big5:
        break;
    }
    return DecodeMultiByte(bytes, encoding, proveLossless);
}

void NormaliseLineEnds(QString &text)
{
    int from = text.indexOf(QLatin1Char('\r'));
    if (from < 0)
        return;
    QChar *data = text.data();
    const int size = text.size();
    int out = from;
    for (int in = from; in < size; ++in) {
        if (data[in] == QLatin1Char('\r')) {
            data[out++] = QLatin1Char('\n');
            if (in + 1 < size && data[in + 1] == QLatin1Char('\n'))
                ++in;
        } else {
            data[out++] = data[in];
        }
    }
    text.truncate(out);
}

std::optional<DecodedText> DecodeTextFile(const QString &path, bool detectUtf16)
{
    QByteArray bytes;
    if (!ReadFileBytes(path, bytes))
        return std::nullopt;
    DecodedText decoded = DecodeBytes(bytes, DecideEncoding(bytes, detectUtf16));
    bytes = QByteArray();
    NormaliseLineEnds(decoded.text);
    return decoded;
}

namespace {

QString WithCrLf(const QString &text)
{
    const QChar *const units = text.constData();
    const int size = text.size();
    const int lineFeeds = int(std::count(units, units + size, QLatin1Char('\n')));
    if (lineFeeds == 0)
        return text;
    QString result(size + lineFeeds, Qt::Uninitialized);
    QChar *out = result.data();
    for (int i = 0; i < size; ++i) {
        if (units[i] == QLatin1Char('\n'))
            *out++ = QLatin1Char('\r');
        *out++ = units[i];
    }
    return result;
}

// The mark and the code units, each line feed as CR LF, written in one pass.
QByteArray Utf16WithCrLf(const QString &text, bool littleEndian)
{
    const QChar *const units = text.constData();
    const int size = text.size();
    const qsizetype lineFeeds = std::count(units, units + size, QLatin1Char('\n'));
    QByteArray bytes(2 * (1 + size + lineFeeds), Qt::Uninitialized);
    auto *out = reinterpret_cast<uchar *>(bytes.data());
    const auto put = [&](ushort unit) {
        if (littleEndian)
            qToLittleEndian<quint16>(unit, out);
        else
            qToBigEndian<quint16>(unit, out);
        out += 2;
    };
    put(0xFEFF);
    for (int i = 0; i < size; ++i) {
        if (units[i] == QLatin1Char('\n'))
            put('\r');
        put(units[i].unicode());
    }
    return bytes;
}

bool HasLoneSurrogate(const QString &text)
{
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return true;
    }
    return false;
}

} // namespace

std::optional<QByteArray> EncodeText(const QString &text, TextEncoding encoding, bool withBom)
{
    // UTF-16 carries any code unit, lone surrogates included, so nothing is lost.
    if (encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be)
        return Utf16WithCrLf(text, encoding == TextEncoding::Utf16Le);
    const QString crLfText = WithCrLf(text);
    switch (encoding) {
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be:
        break;
    case TextEncoding::Utf8: {
        if (HasLoneSurrogate(crLfText))
            return std::nullopt;
        // A text that begins with U+FEFF needs the mark in front, or reading the file back
        // would take that character for it.
        const bool mark = withBom || crLfText.startsWith(QChar(0xFEFF));
        QByteArray bytes = mark ? QByteArrayLiteral("\xEF\xBB\xBF") : QByteArray();
        bytes += crLfText.toUtf8();
        return bytes;
    }
    case TextEncoding::Gbk:
    case TextEncoding::Gb18030:
    case TextEncoding::Big5:
        break;
    }
    QTextCodec *codec = LegacyCodec(encoding);
    QTextCodec::ConverterState state;
    QByteArray bytes = codec->fromUnicode(crLfText.constData(), crLfText.size(), &state);
    if (state.invalidChars > 0 || (encoding == TextEncoding::Gb18030 && HasLoneSurrogate(crLfText)))
        return std::nullopt;
    return bytes;
}

QByteArray EncodeUtf16(const QString &text, bool littleEndian)
{
    QByteArray bytes(2 * text.size(), Qt::Uninitialized);
    auto *out = reinterpret_cast<uchar *>(bytes.data());
    const QChar *data = text.constData();
    for (int i = 0; i < text.size(); ++i) {
        if (littleEndian)
            qToLittleEndian<quint16>(data[i].unicode(), out + 2 * i);
        else
            qToBigEndian<quint16>(data[i].unicode(), out + 2 * i);
    }
    return bytes;
}
