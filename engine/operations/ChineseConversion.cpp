#include "engine/operations/ChineseConversion.h"

#include "engine/chinese/ChineseConverter.h"
#include "engine/codec/ByteChecks.h"
#include "engine/codec/TextCodec.h"

#include <QTextCodec>

namespace {

std::optional<QByteArray> Encode(QTextCodec *codec, const QString &text)
{
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QByteArray bytes = codec->fromUnicode(text.constData(), text.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0)
        return std::nullopt;
    return bytes;
}

} // namespace

ChineseConversion::ChineseConversion(std::shared_ptr<const ChineseConverter> converter)
    : converter(std::move(converter))
{}

ConvertedFile ChineseConversion::convert(const QByteArray &bytes) const
{
    const EncodingDecision detected = DetectEncoding(bytes, true, Gb18030Check::WholeFile);
    const TextEncoding encoding = detected.encoding;
    ConvertedFile file;
    file.sourceEncoding = EncodingName(encoding, bytes);
    const auto failed = [&](FailureKind kind) {
        file.kind = ConvertedFile::Failed;
        file.failure = kind;
        return file;
    };
    if (detected.rival) {
        file.detail = EncodingCandidates(encoding, *detected.rival);
        return failed(FailureKind::UncertainEncoding);
    }
    if (encoding == TextEncoding::Gbk && IsDamagedUtf8(bytes.constData(), bytes.size()))
        return failed(FailureKind::DamagedUtf8);
    const bool utf16 = encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be;
    if (!utf16 && bytes.contains('\0'))
        return failed(FailureKind::NotText);
    const DecodedText decoded = DecodeBytes(bytes, encoding);
    if (!decoded.lossless)
        return failed(FailureKind::NotLossless);
    const std::optional<QString> text = converter->convert(decoded.text);
    if (!text)
        return failed(FailureKind::NotLossless);
    if (*text == decoded.text)
        return file;
    std::optional<QByteArray> converted;
    switch (encoding) {
    case TextEncoding::Utf8:
        converted = Encode(Utf8Codec(), *text);
        if (converted && bytes.startsWith("\xEF\xBB\xBF"))
            converted->prepend("\xEF\xBB\xBF");
        break;
    case TextEncoding::Gbk:
        converted = Encode(GbkCodec(), *text);
        break;
    case TextEncoding::Gb18030:
        converted = Encode(Gb18030Codec(), *text);
        break;
    case TextEncoding::Big5:
        converted = Encode(Big5Codec(), *text);
        break;
    case TextEncoding::Utf16Le:
        converted = QByteArrayLiteral("\xFF\xFE") + EncodeUtf16(*text, true);
        break;
    case TextEncoding::Utf16Be:
        converted = QByteArrayLiteral("\xFE\xFF") + EncodeUtf16(*text, false);
        break;
    }
    // Kept only when the next run reads back exactly this text in this encoding.
    if (!converted)
        return failed(FailureKind::Unrepresentable);
    const TextEncoding readAs = DetectEncoding(*converted, true, Gb18030Check::WholeFile).encoding;
    const DecodedText readBack = DecodeBytes(*converted, readAs);
    if (!readBack.lossless || readBack.text != *text ||
        (readAs != encoding && !(encoding == TextEncoding::Gb18030 && readAs == TextEncoding::Gbk)))
        return failed(FailureKind::Unrepresentable);
    file.kind = ConvertedFile::Converted;
    file.bytes = std::move(*converted);
    return file;
}
