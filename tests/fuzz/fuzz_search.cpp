// The find-only decision taken from a file's bytes must agree with the search in its decoded
// text wherever the bytes settle it.

#include "engine/batch/BatchSettings.h"
#include "engine/codec/TextCodec.h"
#include "engine/operations/FileHook.h"
#include "tests/fuzz/FuzzCheck.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

// Input: a flag byte, the length of the search terms, the terms in UTF-8 ("||" between
// them), then the file's bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const bool detectUtf16 = data[0] & 1;
    const std::size_t termsSize = std::min<std::size_t>(data[1], size - 2);
    const char *rest = reinterpret_cast<const char *>(data) + 2;
    BatchSettings settings;
    settings.searchTerms = QString::fromUtf8(rest, static_cast<int>(termsSize));
    const QByteArray bytes(rest + termsSize, static_cast<int>(size - 2 - termsSize));

    const FileRule rule(Operation::FindText, settings);
    const TextEncoding encoding = DecideEncoding(bytes, detectUtf16);
    const std::optional<bool> fromBytes = rule.decideFromBytes(bytes, encoding);
    if (!fromBytes)
        return 0;
    DecodedText decoded = DecodeBytes(bytes, encoding, false);
    NormaliseLineEnds(decoded.text);
    FUZZ_CHECK(*fromBytes == ContainsAllTerms(decoded.text, SplitTerms(settings.searchTerms)));
    return 0;
}
