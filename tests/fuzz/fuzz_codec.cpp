// The encoding decision, the decoding and the writing back: a file judged lossless is written
// back as exactly its own bytes, line ends and byte-order mark aside, and what is written
// reads back as the same text in the same encoding.

#include "engine/codec/TextCodec.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QByteArray>
#include <cstdint>

namespace {

// The bytes without a leading mark and with every line end as one LF, counted in the
// encoding's own units: for UTF-16 a CR or LF is a whole code unit.
QByteArray Canonical(const QByteArray &bytes, TextEncoding encoding)
{
    const bool utf16 = encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be;
    const int unit = utf16 ? 2 : 1;
    int begin = 0;
    if (utf16)
        begin = 2;
    else if (encoding == TextEncoding::Utf8 && bytes.startsWith("\xEF\xBB\xBF"))
        begin = 3;
    const auto isUnit = [&](int at, char c) {
        if (!utf16)
            return bytes.at(at) == c;
        const bool little = encoding == TextEncoding::Utf16Le;
        return bytes.at(at + (little ? 0 : 1)) == c && bytes.at(at + (little ? 1 : 0)) == '\0';
    };
    QByteArray result;
    for (int at = begin; at + unit <= bytes.size(); at += unit) {
        if (isUnit(at, '\r')) {
            result += utf16 ? (encoding == TextEncoding::Utf16Le ? QByteArray("\n\0", 2)
                                                                 : QByteArray("\0\n", 2))
                            : QByteArray("\n");
            if (at + 2 * unit <= bytes.size() && isUnit(at + unit, '\n'))
                at += unit;
        } else {
            result += bytes.mid(at, unit);
        }
    }
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool detectUtf16 = data[0] & 1;
    const bool withBom = data[0] & 2;
    const QByteArray bytes(reinterpret_cast<const char *>(data) + 1, static_cast<int>(size - 1));

    const TextEncoding encoding = DecideEncoding(bytes, detectUtf16);
    DecodedText decoded = DecodeBytes(bytes, encoding);
    NormaliseLineEnds(decoded.text);
    FUZZ_CHECK(decoded.encoding == encoding);
    if (!decoded.lossless)
        return 0;

    const std::optional<QByteArray> written = EncodeText(decoded.text, encoding, withBom);
    FUZZ_CHECK(written.has_value());
    FUZZ_CHECK(Canonical(*written, encoding) == Canonical(bytes, encoding));

    // A mark or valid UTF-8 is read back the same way. Between the legacy encodings the
    // answer is statistical over a prefix, which the written line ends shift; what must hold
    // is that the written bytes read back losslessly as the text they were written from.
    const TextEncoding again = DecideEncoding(*written, detectUtf16);
    const auto legacy = [](TextEncoding each) {
        return each == TextEncoding::Gbk || each == TextEncoding::Gb18030 ||
               each == TextEncoding::Big5;
    };
    FUZZ_CHECK(again == encoding || (legacy(again) && legacy(encoding)));
    DecodedText reread = DecodeBytes(*written, encoding);
    NormaliseLineEnds(reread.text);
    FUZZ_CHECK(reread.lossless);
    FUZZ_CHECK(reread.text == decoded.text);
    return 0;
}
