#pragma once

#include "engine/codec/TextCodec.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

enum class Presence
{
    Absent,
    Present,
    Unknown, // only the decoded text can tell
};

// A search text, encoded once for every encoding a file may have.
class EncodedTerm
{
public:
    explicit EncodedTerm(const QString &text);
    // The bytes whose match in a file of that encoding is a match of the text; null where only
    // the decoded text can tell. A GBK match counts only at a character start of clean bytes.
    const QByteArray *bytesIn(TextEncoding encoding) const;

private:
    friend class ByteText;
    bool searchable = false; // not empty, no line break, so line-end normalising cannot matter
    bool inUtf8 = false;
    bool inGbk = false;
    QByteArray utf8;
    QByteArray gbk;
    QByteArray utf16Le;
    QByteArray utf16Be;
};

std::vector<EncodedTerm> EncodeTerms(const QStringList &texts);

// A file's bytes searched as its decoded text with line ends normalised would be, without
// decoding: in UTF-8 and UTF-16 a byte match at a character start is a character match, and
// in GBK too once the bytes are known to be clean. Anything else answers Unknown.
class ByteText
{
public:
    ByteText(const QByteArray &bytes, TextEncoding encoding);
    Presence contains(const EncodedTerm &term) const;

private:
    const char *begin = nullptr; // the text's bytes, byte-order mark and odd final byte left out
    const char *end = nullptr;
    TextEncoding encoding;
    bool cleanGbk = false;
};
