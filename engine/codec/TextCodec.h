#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class QTextCodec;

enum class TextEncoding
{
    Utf16Le,
    Utf16Be,
    Utf8,
    Gbk,
    Gb18030, // not clean GBK, but every sequence well-formed GB18030
    Big5,    // code page 950, told from GBK by the text's statistics
};

// The codecs the engine uses, looked up once: worker threads ask for them for every file,
// and Qt's own lookup takes a global lock.
QTextCodec *GbkCodec();
QTextCodec *Utf8Codec();
QTextCodec *Gb18030Codec();
// Big5 as Windows' code page 950 reads it.
QTextCodec *Big5Codec();

struct DecodedText
{
    QString text; // every line break is a single line feed
    TextEncoding encoding = TextEncoding::Utf8;
    // Encoding the text again gives back the file's bytes (line ends and byte-order mark
    // aside), so writing it back loses nothing.
    bool lossless = true;
};

// How far the decision looks for GB18030's own characters in clean GBK. A search or an edit
// looks in the first gb18030CheckBytes only, so that a tree of GBK files is read as fast as
// before: such a file read as GBK is searched and written back unchanged but for the edit. A
// conversion, which would carry a wrong guess's private-use code points into its new file,
// looks at all of it.
enum class Gb18030Check
{
    Prefix,
    WholeFile,
};
constexpr qsizetype gb18030CheckBytes = 1024;

// A file's encoding as its bytes tell it.
struct EncodingDecision
{
    TextEncoding encoding = TextEncoding::Utf8;
    // Set when the bytes are valid in two encodings and the text's statistics did not tell
    // which: the other one. The file is read as encoding, but never written from that guess.
    std::optional<TextEncoding> rival;
};

// UTF-16 only by its byte-order mark and only when asked for; otherwise UTF-8 when the bytes
// are well-formed UTF-8 (except that well-formed UTF-8 cut off in its last character stays
// UTF-8 only unless the bytes are clean GBK). Bytes that are not are GB18030 when they are
// not clean GBK but well-formed GB18030. Clean GBK that is also clean Big5 is Big5 or GBK as
// the detector names it from its first legacyDetectionBytes, unless their first KiB is plainly
// GBK's simplified text; when it names neither (too little text), GBK, with Big5 as the rival
// where Big5 reads more common characters. Clean GBK holding characters that only GB18030
// reads (HoldsGb18030OnlyPair) is GB18030, looked for as far as check says. Everything else is
// GBK.
EncodingDecision DetectEncoding(const QByteArray &bytes, bool detectUtf16,
                                Gb18030Check check = Gb18030Check::Prefix);
// DetectEncoding's encoding.
TextEncoding DecideEncoding(const QByteArray &bytes, bool detectUtf16);

// The legacy encodings are told apart from this many bytes at most: enough text for the
// detector, and a file read in pieces holds them in its first piece.
constexpr qsizetype legacyDetectionBytes = qsizetype(64) << 10;
// Whether clean GBK that is not UTF-8 and begins with these bytes (the whole file, or at least
// its first legacyDetectionBytes) is GBK without doubt, as DetectEncoding with a Prefix check
// would say: not Big5, nor a guess between the two, nor GB18030.
bool BeginsAsSureGbk(const char *data, qsizetype size);

// "GBK, Big5": the two encodings a file was refused between, for its failure's detail.
QString EncodingCandidates(TextEncoding first, TextEncoding second);

// "UTF-8", "UTF-8 BOM" (when the bytes begin with the mark), "GBK", "GB18030", "Big5",
// "UTF-16LE" or "UTF-16BE": what a user is shown of a file's encoding.
const char *EncodingName(TextEncoding encoding, const QByteArray &bytes);

// Decodes bytes in the given encoding, without the byte-order mark, line ends as they are.
// Proving a GBK text lossless costs an encoding pass; a caller that only searches the text
// may skip it, and lossless then stays true.
DecodedText DecodeBytes(const QByteArray &bytes, TextEncoding encoding, bool proveLossless = true);

// Turns CR LF and every lone CR into a single LF.
void NormaliseLineEnds(QString &text);

// Reads and decodes a file, line ends normalised; nothing when it cannot be read.
std::optional<DecodedText> DecodeTextFile(const QString &path, bool detectUtf16);

// The bytes of a text file: every line feed as CR LF, a byte-order mark always for UTF-16,
// for UTF-8 when withBom is set or the text itself begins with U+FEFF, never for GBK,
// GB18030 or Big5.
// Nothing when the encoding cannot represent some character of the text.
std::optional<QByteArray> EncodeText(const QString &text, TextEncoding encoding, bool withBom);

// The text's UTF-16 code units, byte-order mark left out.
QByteArray EncodeUtf16(const QString &text, bool littleEndian);
