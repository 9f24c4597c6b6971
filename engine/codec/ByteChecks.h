#pragma once

#include "engine/simd/SimdLevel.h"

#include <QtGlobal>

// True when the bytes are well-formed UTF-8: no overlong form, no surrogate, nothing above
// U+10FFFF, and no sequence cut off at the end. Stops at the first fault.
bool IsValidUtf8(const char *data, qsizetype size);
// The same with the kernel of a given level, which the processor must support.
bool IsValidUtf8(SimdLevel level, const char *data, qsizetype size);

// The length of a sequence cut off at the very end (a lead byte C2-F4 followed by fewer
// continuation bytes than it needs), or 0. Qt's UTF-8 decoder counts such a tail as missing
// input, not as invalid input, and leaves it out of the text.
int Utf8CutOffTail(const char *data, qsizetype size);

// True when bytes that are no valid UTF-8 are still mostly well-formed UTF-8 characters,
// with a few broken bytes among them, and are neither clean GBK nor GB18030: a damaged
// UTF-8 text, which read as GBK would be garbage that no search matches.
bool IsDamagedUtf8(const char *data, qsizetype size);

// GBK as the "GBK" codec reads it: a lead byte 81-FE and the trail byte after it (40-7E,
// 80-FE) make one character; every other byte is a character of its own.

// True when every lead byte has a valid trail byte. Exactly such bytes decode and encode
// again unchanged, and only in such bytes does a byte match tell a character match.
bool IsCleanGbk(const char *data, qsizetype size);
bool IsCleanGbk(SimdLevel level, const char *data, qsizetype size);

// True when the bytes split into GB18030's sequences: single bytes 00-7F, GBK's two-byte
// characters, and four-byte sequences 81-FE 30-39 81-FE 30-39. Whether each sequence is
// assigned only decoding tells.
bool IsWellFormedGb18030(const char *data, qsizetype size);

// True when clean GBK bytes, from a character start, hold one of the two-byte characters that
// code page 936 reads as private-use code points and GB18030 as real ones (€ A2 E3, ⿰ A9 8A,
// 䶮 FE 9F): such a file was written as GB18030.
bool HoldsGb18030OnlyPair(const char *data, qsizetype size);
// The same for one character's two bytes.
bool IsGb18030OnlyPair(unsigned char lead, unsigned char trail);

// Big5 as code page 950 reads it: a lead byte 81-FE and a trail byte 40-7E or A1-FE make one
// character. True when every lead byte has such a trail byte, a lead byte at the very end
// counting as one whose trail was cut off (the bytes may be a file's first part). So clean
// Big5 is clean GBK as well, but for that last byte.
bool IsCleanBig5Prefix(const char *data, qsizetype size);

// Walks a clean GBK buffer from a known character start, so that repeated questions about
// later positions cost one pass over the buffer in all.
class GbkCharStarts
{
public:
    explicit GbkCharStarts(const char *begin);
    // True when a character starts at at. Positions asked about must not decrease.
    bool startsAt(const char *at);

private:
    const unsigned char *begin;
    const unsigned char *known; // a character start at or before the next position asked
};
