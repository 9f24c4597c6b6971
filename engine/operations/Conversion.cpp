#include "engine/operations/Conversion.h"

#include "engine/codec/ByteChecks.h"
#include "engine/codec/TextCodec.h"

#include <QTextCodec>

namespace {

bool StartsWithMark(const QByteArray &bytes)
{
    return bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") ||
           bytes.startsWith("\xFE\xFF");
}

// The text of a file the user says is Big5 or GB18030; lossless only when it encodes back to
// the same bytes, as these decoders never report bad input.
DecodedText DecodeAs(QTextCodec *codec, const QByteArray &bytes)
{
    DecodedText decoded;
    decoded.text = codec->toUnicode(bytes);
    decoded.lossless = codec->fromUnicode(decoded.text) == bytes;
    return decoded;
}

QString WithLineEnds(QString text, LineEnds lineEnds)
{
    if (lineEnds == LineEnds::Keep)
        return text;
    NormaliseLineEnds(text);
    if (lineEnds == LineEnds::CrLf)
        text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

std::optional<QByteArray> Encode(QTextCodec *codec, const QString &text)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QByteArray bytes = codec->fromUnicode(text.constData(), text.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0)
        return std::nullopt;
    return bytes;
}

std::optional<QByteArray> EncodeFor(ConvertTarget target, const QString &text)
{
    switch (target) {
    case ConvertTarget::Utf8:
        return Encode(Utf8Codec(), text);
    case ConvertTarget::Utf8WithBom:
        if (std::optional<QByteArray> bytes = Encode(Utf8Codec(), text))
            return QByteArrayLiteral("\xEF\xBB\xBF") + *bytes;
        return std::nullopt;
    case ConvertTarget::Gbk:
        return Encode(GbkCodec(), text);
    case ConvertTarget::Gb18030:
        // GBK where it holds the whole file as GB18030 reads it too, so that readers without
        // GB18030 still read it; Windows' GBK has bytes GB18030 rejects (0x80 for the euro).
        if (std::optional<QByteArray> bytes = Encode(GbkCodec(), text)) {
            if (Gb18030Codec()->toUnicode(*bytes) == text)
                return bytes;
        }
        return Encode(Gb18030Codec(), text);
    case ConvertTarget::Utf16LeWithBom:
        break;
    }
    return QByteArrayLiteral("\xFF\xFE") + EncodeUtf16(text, true);
}

} // namespace

Conversion::Conversion(const BatchSettings &settings)
    : target(settings.convertTo), source(settings.convertFrom), lineEnds(settings.convertLineEnds)
{}

ConvertedFile Conversion::convert(const QByteArray &bytes) const
{
    const char *sourceEncoding = nullptr;
    const auto failed = [&](FailureKind kind) {
        ConvertedFile file;
        file.kind = ConvertedFile::Failed;
        file.failure = kind;
        file.sourceEncoding = sourceEncoding;
        return file;
    };
    // A conversion reads every mark: a UTF-16 file taken for GBK would be converted to garbage.
    DecodedText decoded;
    if (source == ConvertSource::Detect || StartsWithMark(bytes)) {
        const TextEncoding encoding = DecideEncoding(bytes, true);
        sourceEncoding = EncodingName(encoding, bytes);
        if (encoding == TextEncoding::Gbk && IsDamagedUtf8(bytes.constData(), bytes.size()))
            return failed(FailureKind::DamagedUtf8);
        if (encoding != TextEncoding::Utf16Le && encoding != TextEncoding::Utf16Be &&
            bytes.contains('\0'))
            return failed(FailureKind::NotText);
        decoded = DecodeBytes(bytes, encoding);
    } else {
        sourceEncoding = source == ConvertSource::Big5 ? "Big5" : "GB18030";
        if (bytes.contains('\0'))
            return failed(FailureKind::NotText);
        decoded = DecodeAs(source == ConvertSource::Big5 ? Big5Codec() : Gb18030Codec(), bytes);
    }
    if (!decoded.lossless)
        return failed(FailureKind::NotLossless);
    const QString text = WithLineEnds(std::move(decoded.text), lineEnds);
    std::optional<QByteArray> converted = EncodeFor(target, text);
    if (!converted)
        return failed(FailureKind::TargetUnrepresentable);
    if (*converted == bytes) {
        ConvertedFile file;
        file.sourceEncoding = sourceEncoding;
        return file;
    }
    // What the next run will make of the file: a text that begins with U+FEFF would lose it
    // as a mark, and GB18030 bytes that happen to be clean GBK would read as GBK.
    const DecodedText readBack = DecodeBytes(*converted, DecideEncoding(*converted, true));
    if (!readBack.lossless || readBack.text != text)
        return failed(FailureKind::TargetUnrepresentable);
    ConvertedFile file;
    file.kind = ConvertedFile::Converted;
    file.bytes = std::move(*converted);
    file.sourceEncoding = sourceEncoding;
    return file;
}
