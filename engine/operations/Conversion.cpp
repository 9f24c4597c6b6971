#include "engine/operations/Conversion.h"

#include "engine/codec/ByteChecks.h"
#include "engine/codec/TextCodec.h"

#include <QTextCodec>

#include <algorithm>

namespace {

bool StartsWithMark(const QByteArray &bytes)
{
    return bytes.startsWith("\xEF\xBB\xBF") || bytes.startsWith("\xFF\xFE") ||
           bytes.startsWith("\xFE\xFF");
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

TextEncoding NamedEncoding(ConvertSource source)
{
    switch (source) {
    case ConvertSource::Big5:
        return TextEncoding::Big5;
    case ConvertSource::Gb18030:
        return TextEncoding::Gb18030;
    default:
        return TextEncoding::Gbk;
    }
}

bool SameFamily(TextEncoding a, TextEncoding b)
{
    const auto gbkFamily = [](TextEncoding e) {
        return e == TextEncoding::Gbk || e == TextEncoding::Gb18030;
    };
    return a == b || (gbkFamily(a) && gbkFamily(b));
}

// Whether the detection leaves room for the encoding the user named: it names the same (GBK
// and GB18030 read the same characters alike), weighed it as the rival, or the bytes are
// ASCII, alike in all of them.
bool Allows(const EncodingDecision &detected, TextEncoding named, const QByteArray &bytes)
{
    if (SameFamily(detected.encoding, named) || (detected.rival && *detected.rival == named))
        return true;
    return detected.encoding == TextEncoding::Utf8 &&
           std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; });
}

} // namespace

Conversion::Conversion(const BatchSettings &settings)
    : target(settings.convertTo), source(settings.convertFrom), lineEnds(settings.convertLineEnds)
{}

ConvertedFile Conversion::convert(const QByteArray &bytes) const
{
    const char *sourceEncoding = nullptr;
    const auto failed = [&](FailureKind kind, const QString &detail = QString()) {
        ConvertedFile file;
        file.kind = ConvertedFile::Failed;
        file.failure = kind;
        file.detail = detail;
        file.sourceEncoding = sourceEncoding;
        return file;
    };
    // A conversion reads every mark: a UTF-16 file taken for GBK would be converted to garbage.
    const EncodingDecision detected = DetectEncoding(bytes, true, Gb18030Check::WholeFile);
    TextEncoding encoding = detected.encoding;
    sourceEncoding = EncodingName(encoding, bytes);
    if (source != ConvertSource::Detect && !StartsWithMark(bytes)) {
        // A named encoding settles what the detection could not, but overrules no sure answer
        // and reads only bytes valid in it.
        const TextEncoding named = NamedEncoding(source);
        if (!Allows(detected, named, bytes) || !DecodeBytes(bytes, named).lossless)
            return failed(FailureKind::UncertainEncoding, EncodingCandidates(named, encoding));
        encoding = named;
        sourceEncoding = EncodingName(encoding, bytes);
    } else if (detected.rival) {
        return failed(FailureKind::UncertainEncoding,
                      EncodingCandidates(detected.encoding, *detected.rival));
    }
    if (encoding == TextEncoding::Gbk && IsDamagedUtf8(bytes.constData(), bytes.size()))
        return failed(FailureKind::DamagedUtf8);
    if (encoding != TextEncoding::Utf16Le && encoding != TextEncoding::Utf16Be &&
        bytes.contains('\0'))
        return failed(FailureKind::NotText);
    DecodedText decoded = DecodeBytes(bytes, encoding);
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
    const DecodedText readBack =
        DecodeBytes(*converted, DetectEncoding(*converted, true, Gb18030Check::WholeFile).encoding);
    if (!readBack.lossless || readBack.text != text)
        return failed(FailureKind::TargetUnrepresentable);
    ConvertedFile file;
    file.kind = ConvertedFile::Converted;
    file.bytes = std::move(*converted);
    file.sourceEncoding = sourceEncoding;
    return file;
}
