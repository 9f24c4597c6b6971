#pragma once

#include <QtGlobal>

// GBK as the "GBK" codec reads it: a lead byte 81-FE and the trail byte after it (40-7E,
// 80-FE) make one character; every other byte is a character of its own.

// True when every lead byte has a valid trail byte. Exactly such bytes decode and encode
// again unchanged, and only in such bytes does a byte match tell a character match.
bool IsCleanGbk(const char *data, qsizetype size);

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
