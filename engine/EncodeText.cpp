#include "EncodeText.h"

#include "Codecs.h"

#include <QTextCodec>
#include <QtEndian>

namespace {

QString WithCrLf(const QString &text)
{
    QString result = text;
    result.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return result;
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

QByteArray EncodeUtf16(const QString &text, bool little)
{
    QByteArray bytes(2 * (text.size() + 1), Qt::Uninitialized);
    auto *out = reinterpret_cast<uchar *>(bytes.data());
    auto put = [little](uchar *at, ushort unit) {
        if (little)
            qToLittleEndian<quint16>(unit, at);
        else
            qToBigEndian<quint16>(unit, at);
    };
    put(out, 0xFEFF);
    const QChar *data = text.constData();
    for (int i = 0; i < text.size(); ++i)
        put(out + 2 * (i + 1), data[i].unicode());
    return bytes;
}

} // namespace

std::optional<QByteArray> EncodeText(const QString &text, TextEncoding encoding, bool withBom)
{
    const QString crLfText = WithCrLf(text);
    switch (encoding) {
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be:
        // UTF-16 carries any code unit, lone surrogates included, so nothing is lost.
        return EncodeUtf16(crLfText, encoding == TextEncoding::Utf16Le);
    case TextEncoding::Utf8: {
        if (HasLoneSurrogate(crLfText))
            return std::nullopt;
        QByteArray bytes = withBom ? QByteArrayLiteral("\xEF\xBB\xBF") : QByteArray();
        bytes += crLfText.toUtf8();
        return bytes;
    }
    case TextEncoding::Gbk:
        break;
    }
    QTextCodec::ConverterState state;
    QByteArray bytes = GbkCodec()->fromUnicode(crLfText.constData(), crLfText.size(), &state);
    if (state.invalidChars > 0)
        return std::nullopt;
    return bytes;
}
