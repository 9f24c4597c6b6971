#include "engine/search/StreamSearch.h"

#include "engine/codec/ByteChecks.h"
#include "engine/search/FindBytes.h"

#include <QVarLengthArray>
#include <algorithm>
#include <cstring>
#include <optional>

namespace {

const qint64 align = 64;

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

bool IsGbkLead(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

bool IsUtf16(TextEncoding encoding)
{
    return encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be;
}

} // namespace

qint64 CharacterEnd(TextEncoding encoding, const unsigned char *bytes, qint64 from, qint64 end,
                    qint64 offset)
{
    switch (encoding) {
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be:
        // The text starts at an even offset, behind its two-byte mark.
        return std::max(from, end - ((offset + end) & 1));
    case TextEncoding::Utf8:
        // Three continuation bytes at most follow a lead; more are no UTF-8 at all.
        for (qint64 at = end - 1; at >= from && at >= end - 4; --at) {
            if (bytes[at] < 0x80)
                return at + 1;
            if (!IsContinuation(bytes[at]))
                return at;
        }
        return end - from >= 4 ? end : from;
    case TextEncoding::Gb18030:
    case TextEncoding::Big5: // never read in pieces; as GB18030 would be safe
        // Digits 30 to 39 may be inside a four-byte character; a byte below them never is.
        for (qint64 at = end - 1; at >= from; --at) {
            if (bytes[at] < 0x30)
                return at + 1;
        }
        return from;
    case TextEncoding::Gbk:
        break;
    }
    // A byte below 40 is never a trail byte: a character starts right after it.
    for (qint64 at = end - 1; at >= from; --at) {
        if (bytes[at] < 0x40)
            return at + 1;
    }
    return from;
}

qint64 StreamChunkFor(qint64 fileSize)
{
    const qint64 page = 4096;
    return std::clamp((std::max<qint64>(fileSize, 0) / page + 1) * page, page, streamChunk);
}

namespace {

thread_local StreamBufferKeeper *threadKeeper = nullptr;

} // namespace

StreamBufferKeeper::StreamBufferKeeper() : outer(threadKeeper)
{
    threadKeeper = this;
}

StreamBufferKeeper::~StreamBufferKeeper()
{
    threadKeeper = outer;
}

AlignedStreamBuffer::AlignedStreamBuffer(qint64 size)
{
    const qint64 wanted = size + align;
    char *base = nullptr;
    if (StreamBufferKeeper *keeper = threadKeeper; keeper && !keeper->lent) {
        if (keeper->size < wanted) {
            keeper->storage.reset();
            keeper->size = 0;
            keeper->storage.reset(new char[size_t(wanted)]);
            keeper->size = wanted;
        }
        keeper->lent = true;
        borrowed = keeper;
        base = keeper->storage.get();
    } else {
        storage.reset(new char[size_t(wanted)]);
        base = storage.get();
    }
    aligned = base + (-reinterpret_cast<quintptr>(base) & (align - 1));
}

AlignedStreamBuffer::~AlignedStreamBuffer()
{
    if (borrowed)
        borrowed->lent = false;
}

qint64 GbkCharacterStart(const unsigned char *bytes, qint64 target)
{
    qint64 at = target;
    while (at > 0 && bytes[at - 1] >= 0x40)
        --at;
    while (at < target)
        at += IsGbkLead(bytes[at]) ? 2 : 1;
    return at;
}

namespace {

class Search
{
public:
    Search(const std::vector<EncodedTerm> &terms, const ChunkReader &read, qint64 chunk,
           bool untilFirstMatch)
        : terms(terms), read(read), chunk(std::max<qint64>(chunk, 4)),
          untilFirstMatch(untilFirstMatch)
    {}
    // One pass over the file as that encoding, the UTF-16 ones only when the mark says so.
    StreamedSearch::Result run(TextEncoding asEncoding, bool detectUtf16);
    TextEncoding encoding = TextEncoding::Utf8;
    std::vector<Presence> presence;

private:
    void searchPiece(const char *buffer, qint64 searchFrom, qint64 end, qint64 offset);

    const std::vector<EncodedTerm> &terms;
    const ChunkReader &read;
    const qint64 chunk;
    const bool untilFirstMatch;
    QVarLengthArray<const QByteArray *, 8> needles; // on the stack for the usual few terms
    std::optional<AlignedStreamBuffer> storage;
    qint64 textStart = 0; // the mark's bytes, left out of the text

public:
    // A file read whole by the first pass is still in the buffer for the second.
    qint64 heldWhole = -1;
};

StreamedSearch::Result Search::run(TextEncoding asEncoding, bool detectUtf16)
{
    qint64 keep = 0;
    for (const EncodedTerm &term : terms) {
        for (const TextEncoding each : {TextEncoding::Utf8, TextEncoding::Gbk,
                                        TextEncoding::Utf16Le, TextEncoding::Utf16Be}) {
            const QByteArray *bytes = term.bytesIn(each);
            keep = std::max<qint64>(keep, bytes ? bytes->size() : 0);
        }
    }
    const qint64 capacity = keep + 3 * chunk;
    // Both passes share it: the second may search what the first has read.
    if (!storage)
        storage.emplace(capacity + align);
    char *const aligned = storage->data();
    char *buffer = aligned;
    const auto *bytes = reinterpret_cast<const unsigned char *>(buffer);

    encoding = asEncoding;
    qint64 held = 0;    // bytes in the buffer
    qint64 checked = 0; // of them, already checked and searched, kept for terms across the cut
    qint64 offset = 0;  // the file offset of the buffer's first byte
    bool first = true;
    bool end = false;
    if (heldWhole >= 0) {
        held = heldWhole;
        end = true;
    }
    for (;;) {
        const qint64 wanted = std::min(capacity, held + chunk);
        while (held < wanted && !end) {
            qint64 got = 0;
            if (!read(buffer + held, wanted - held, got))
                return StreamedSearch::ReadFailed;
            end = got == 0;
            held += got;
        }
        if (first) {
            first = false;
            if (detectUtf16 && held >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE)
                encoding = TextEncoding::Utf16Le;
            else if (detectUtf16 && held >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF)
                encoding = TextEncoding::Utf16Be;
            // Big5, a guess between the two, or GB18030 is decided on the whole file, and so
            // is a start too short to tell.
            if (encoding == TextEncoding::Gbk &&
                ((!end && held < legacyDetectionBytes) || !BeginsAsSureGbk(buffer, held)))
                return StreamedSearch::NeedsWholeFile;
            textStart = IsUtf16(encoding) ? 2
                        : encoding == TextEncoding::Utf8 && held >= 3 &&
                                std::memcmp(buffer, "\xEF\xBB\xBF", 3) == 0
                            ? 3
                            : 0;
            needles.clear();
            presence.assign(terms.size(), Presence::Unknown);
            for (const EncodedTerm &term : terms)
                needles.push_back(term.bytesIn(encoding));
        }
        qint64 cut = end ? held : CharacterEnd(encoding, bytes, checked, held, offset);
        if (end && IsUtf16(encoding))
            cut = std::max(checked, held - ((offset + held) & 1)); // an odd last byte is no text
        if (cut == checked && !end) {
            if (held == capacity)
                return StreamedSearch::NeedsWholeFile; // no character ends in all of it
            continue;
        }
        const char *piece = buffer + checked;
        const qint64 pieceSize = cut - checked;
        if (encoding == TextEncoding::Utf8) {
            // A cut-off last character makes the file GBK or leaves its tail out: see
            // DecideEncoding.
            if (end && Utf8CutOffTail(piece, pieceSize) != 0)
                return StreamedSearch::NeedsWholeFile;
            if (!IsValidUtf8(piece, pieceSize)) {
                encoding = TextEncoding::Gbk;
                if (offset == 0 && end && buffer == aligned)
                    heldWhole = held;
                return StreamedSearch::NeedsWholeFile; // the caller starts over as GBK
            }
        } else if (encoding == TextEncoding::Gbk && !IsCleanGbk(piece, pieceSize)) {
            return StreamedSearch::NeedsWholeFile;
        }
        searchPiece(buffer, std::max<qint64>(0, textStart - offset), cut, offset);
        if (untilFirstMatch &&
            std::find(presence.begin(), presence.end(), Presence::Present) != presence.end())
            return StreamedSearch::Settled;
        if (end) {
            for (size_t i = 0; i < size_t(needles.size()); ++i) {
                if (needles[i] && presence[i] != Presence::Present)
                    presence[i] = Presence::Absent;
            }
            return StreamedSearch::Settled;
        }
        // A match that starts before the kept bytes ends before the cut: it was seen already.
        qint64 from = std::max<qint64>(0, cut - std::max<qint64>(keep - 1, 0));
        if (encoding == TextEncoding::Gbk)
            from = GbkCharacterStart(bytes, from); // the buffer must start at a character
        held -= from;
        char *const moved = aligned + (-held & (align - 1));
        std::memmove(moved, buffer + from, size_t(held));
        buffer = moved;
        bytes = reinterpret_cast<const unsigned char *>(buffer);
        checked = cut - from;
        offset += from;
    }
}

void Search::searchPiece(const char *buffer, qint64 searchFrom, qint64 end, qint64 offset)
{
    const char *const begin = buffer + searchFrom;
    const char *const stop = buffer + end;
    if (begin >= stop)
        return;
    for (size_t i = 0; i < size_t(needles.size()); ++i) {
        const QByteArray *needle = needles[i];
        if (!needle || presence[i] == Presence::Present)
            continue;
        const auto find = [&](const char *from) {
            return FindBytes(from, stop, needle->constData(), needle->size());
        };
        if (encoding == TextEncoding::Utf8) {
            // Well-formed UTF-8 resynchronises at every lead byte: any match is aligned.
            if (find(begin))
                presence[i] = Presence::Present;
            continue;
        }
        GbkCharStarts starts(begin);
        for (const char *at = find(begin); at; at = find(at + 1)) {
            const bool aligned =
                IsUtf16(encoding) ? (offset + (at - buffer)) % 2 == 0 : starts.startsAt(at);
            if (aligned) {
                presence[i] = Presence::Present;
                break;
            }
        }
    }
}

} // namespace

StreamedSearch SearchStream(const std::vector<EncodedTerm> &terms, bool detectUtf16,
                            const ChunkReader &read, const ChunkRewind &rewind, qint64 chunk,
                            bool untilFirstMatch)
{
    StreamedSearch found;
    Search search(terms, read, chunk, untilFirstMatch);
    found.result = search.run(TextEncoding::Utf8, detectUtf16);
    // Not UTF-8: the file is GBK, checked and searched from its first byte again.
    if (found.result == StreamedSearch::NeedsWholeFile && search.encoding == TextEncoding::Gbk) {
        if (search.heldWhole < 0 && !rewind())
            return {StreamedSearch::ReadFailed, {}};
        found.notUtf8 = true;
        found.result = search.run(TextEncoding::Gbk, false);
    }
    if (found.result == StreamedSearch::Settled)
        found.presence = std::move(search.presence);
    return found;
}
