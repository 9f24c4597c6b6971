#include "DecodeTextFile.h"

#include "Codecs.h"
#include "ReadFileBytes.h"
#include "Utf8Validation.h"

#include <QTextCodec>
#include <QtEndian>

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

DecodedText DecodeGbk(const QByteArray &bytes, bool proveLossless)
{
    // The GBK decoder never reports bad input, so only a round trip proves the text whole.
    QTextCodec *codec = GbkCodec();
    QString text = codec->toUnicode(bytes);
    const bool lossless = !proveLossless || codec->fromUnicode(text) == bytes;
    return {std::move(text), TextEncoding::Gbk, lossless};
}

} // namespace

TextEncoding DecideEncoding(const QByteArray &bytes, bool detectUtf16)
{
    if (detectUtf16 && bytes.startsWith("\xFF\xFE"))
        return TextEncoding::Utf16Le;
    if (detectUtf16 && bytes.startsWith("\xFE\xFF"))
        return TextEncoding::Utf16Be;
    // A UTF-8 file cut off in its last character is still UTF-8, as the codec reads it; its
    // lost tail makes it unfit for writing back, not a GBK file.
    const int cutOff = Utf8CutOffTail(bytes.constData(), bytes.size());
    return IsValidUtf8(bytes.constData(), bytes.size() - cutOff) ? TextEncoding::Utf8
                                                                 : TextEncoding::Gbk;
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
        break;
    }
    return DecodeGbk(bytes, proveLossless);
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
