#pragma once

#include "engine/search/ByteSearch.h"

#include <functional>
#include <memory>
#include <vector>

// Pulls up to size bytes of the file into data, on from where the last call ended; got is 0
// at its end. False stops the search: the read failed.
using ChunkReader = std::function<bool(char *data, qint64 size, qint64 &got)>;
// Starts the file over from its first byte; false when that failed.
using ChunkRewind = std::function<bool()>;

struct StreamedSearch
{
    enum Result
    {
        Settled,        // presence holds ByteText's answer for each term
        NeedsWholeFile, // the bytes alone do not settle it in pieces; read it whole
        ReadFailed,
    };
    Result result = NeedsWholeFile;
    std::vector<Presence> presence;
    bool notUtf8 = false; // the bytes read were not well-formed UTF-8
};

// A piece small enough to stay in a core's cache while it is checked and searched.
constexpr qint64 streamChunk = qint64(256) << 10;
// The chunk for a file of that size when it was opened: just larger than the file, so that a
// small file is read whole with the read that finds its end, into a buffer of its own size.
qint64 StreamChunkFor(qint64 fileSize);

// What ByteText(bytes, DecideEncoding(bytes, detectUtf16)).contains(term) answers for each
// term, with the file read a piece at a time into one buffer per thread that is kept: each
// piece is checked as its encoding needs (well-formed UTF-8, clean GBK) and searched while it
// is in the cache, and a piece ends only where a character does, so that nothing is checked
// across two pieces; the last bytes of a piece stay for a term that runs on into the next.
// A file that is not well-formed UTF-8 is read again as GBK. Files whose answer may turn on
// their last bytes (a cut-off UTF-8 tail) or that are not clean GBK need the whole file.
// untilFirstMatch settles at the first term found, the others left Unknown: an edit learns
// there that it must read the file anyway.
StreamedSearch SearchStream(const std::vector<EncodedTerm> &terms, bool detectUtf16,
                            const ChunkReader &read, const ChunkRewind &rewind,
                            qint64 chunk = streamChunk, bool untilFirstMatch = false);

// Where the held bytes [from, end) of a file in that encoding may be cut so that the part
// before ends with a whole character, or from when no such place is known yet; offset is the
// file offset of bytes[0]. The two halves of well-formed UTF-8 or clean GBK cut there are
// each well-formed or clean, and a fault stays a fault in one of them.
qint64 CharacterEnd(TextEncoding encoding, const unsigned char *bytes, qint64 from, qint64 end,
                    qint64 offset);
// The first character start at or after target in clean GBK that has one at bytes[0].
qint64 GbkCharacterStart(const unsigned char *bytes, qint64 target);
// Keeps one stream buffer for the thread that holds it, lent to its searches and edits in
// turn: a worker deciding thousands of small files then allocates none for each, where the
// allocation took a tenth of its time. Held on the stack of the thread's loop, with a plain
// thread_local pointer to it: a thread_local with a destructor is not safe at thread exit
// with MinGW's threads. The buffer grows to the largest asked for (three pieces).
class StreamBufferKeeper
{
public:
    StreamBufferKeeper();
    ~StreamBufferKeeper();
    StreamBufferKeeper(const StreamBufferKeeper &) = delete;
    StreamBufferKeeper &operator=(const StreamBufferKeeper &) = delete;

private:
    friend class AlignedStreamBuffer;
    StreamBufferKeeper *outer = nullptr; // the thread's keeper before this one
    std::unique_ptr<char[]> storage;
    qint64 size = 0;
    bool lent = false;
};

// At least size bytes after an aligned start (reads into a misaligned buffer copy at half
// speed), left uninitialised: the thread's kept buffer when it has one that is not lent,
// otherwise one of its own.
class AlignedStreamBuffer
{
public:
    explicit AlignedStreamBuffer(qint64 size);
    ~AlignedStreamBuffer();
    AlignedStreamBuffer(const AlignedStreamBuffer &) = delete;
    AlignedStreamBuffer &operator=(const AlignedStreamBuffer &) = delete;
    char *data() const { return aligned; }

private:
    std::unique_ptr<char[]> storage;
    StreamBufferKeeper *borrowed = nullptr;
    char *aligned = nullptr;
};
