#pragma once

#include "engine/codec/TextCodec.h"
#include "engine/operations/PairMatcher.h"
#include "engine/search/StreamSearch.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// An editing operation carried out on a UTF-8 or GBK file's own bytes, without decoding it:
// line ends made single line feeds, the operation applied to the encoded texts, every line
// feed written as CR LF and the byte-order mark added as EncodeText adds it. This gives exactly
// the bytes that decoding, editing the text and encoding it again would give, because
// - the file's bytes decode character by character and encode back to the same bytes (UTF-8
//   that is well-formed to the end, GBK that is clean), so editing the bytes is editing the
//   text, provided a match is a whole character sequence: any match in UTF-8, a match at a
//   character start in GBK;
// - every text the operation puts in encodes exactly in the file's encoding, so the bytes
//   stay such bytes after each step and later pairs see what the decoded path would see;
// - CR and LF are single bytes in both encodings and never part of another character.
// Anything else (UTF-16, a lossy or cut-off file, a file with NUL bytes, a text the encoding
// cannot hold) is left to the decoded path.
class ByteEdit
{
public:
    // Replaces the pairs in order, each on the bytes the earlier ones left; an empty find
    // does nothing. The single replacement is one pair.
    ByteEdit(const QStringList &finds, const QStringList &replacements);
    // Inserts the text in front of the content or behind it.
    ByteEdit(const QString &insertText, bool atFront);

    enum class Outcome
    {
        Unchanged,
        Changed, // newBytes holds the file's new content
        Unknown, // only the decoded text can tell
    };
    // hits, when given, gets each pair's count of replacements, one per pair given to the
    // constructor (empty finds count 0), or 1 for an insertion; left alone for Unknown.
    Outcome apply(const QByteArray &bytes, TextEncoding encoding, bool withBom,
                  QByteArray &newBytes, std::vector<int> *hits = nullptr) const;
    // Many pairs: apply finds all of them in one pass, which the edit in pieces cannot, so
    // a file that fits in memory is better edited whole.
    bool matchesPairs() const { return static_cast<bool>(conflicts); }
    // For many pairs, how they interact, numbered as the non-empty finds given; shared with
    // the pairs on decoded text.
    std::shared_ptr<const PairConflicts> pairConflicts() const { return conflicts; }

private:
    friend class ByteEditStream;
    // The operation's texts in one encoding.
    struct Encoded
    {
        bool exact = true; // every text encodes, and decodes back to itself
        std::vector<std::pair<QByteArray, QByteArray>> pairs;
        QByteArray insert;
    };
    Encoded &encodedFor(TextEncoding encoding);
    void addPair(const QString &find, const QString &replacement);

    bool inserting = false;
    int givenPairs = 0;
    std::vector<int> pairIndexes; // each encoded pair's place among the pairs given
    bool atFront = false;
    Encoded utf8;
    Encoded gbk;
    // Many pairs: on UTF-8 bytes, and on GBK characters one unit each.
    std::shared_ptr<const PairConflicts> conflicts;
    std::shared_ptr<const OrderedPairs<char>> utf8Pairs;
    std::shared_ptr<const OrderedPairs<ushort>> gbkPairs;
};

// Receives the new bytes a piece at a time; false stops the edit (the write failed).
using EditWrite = std::function<bool(const char *data, qint64 size)>;

struct StreamedEdit
{
    enum Result
    {
        Unchanged,
        Changed,
        NeedsWholeFile, // ByteEdit::apply would answer Unknown, or the pieces cannot tell
        ReadFailed,
        WriteFailed,
    };
    Result result = NeedsWholeFile;
    TextEncoding encoding = TextEncoding::Utf8;
    quint64 originalHash = 0; // the file's bytes, when asked for
    bool notUtf8 = false;     // taken as UTF-8, the bytes were none: they are GBK if anything
    std::vector<int> hits;    // for Changed and Unchanged: as ByteEdit::apply counts them
};

// ByteEdit::apply on a file read a piece at a time, in the memory of a few pieces whatever
// its size: each piece, cut where a character ends, is checked (well-formed UTF-8, clean GBK,
// no NUL byte) and edited at once, its new bytes handed to write (which may be empty, when
// only the answer is wanted). Without a known encoding the file is taken as UTF-8 and read
// again as GBK when it is not, so new bytes are written only with the encoding known (given
// as UTF-8, a file that is none says so in notUtf8). A UTF-16 file, known by its mark, is
// edited as the UTF-8 it turns into and written back as UTF-16, with utf16InPieces; without,
// it needs the whole file.
StreamedEdit EditStream(const ByteEdit &edit, bool detectUtf16, bool withBom,
                        const ChunkReader &read, const ChunkRewind &rewind, const EditWrite &write,
                        bool hashOriginal, std::optional<TextEncoding> known = std::nullopt,
                        qint64 chunk = streamChunk, bool utf16InPieces = true);
