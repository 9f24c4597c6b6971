#pragma once

#include "engine/simd/SimdLevel.h"

#include <QtGlobal>
#include <string>

// UTF-16 turned into UTF-8 and back a piece at a time, carrying a unit or a character cut
// between two pieces, so that UTF-16 text can take the path of UTF-8 bytes. Only well-formed
// UTF-16 makes the round trip: a lone surrogate or an odd last byte stops it.
class Utf16ToUtf8
{
public:
    explicit Utf16ToUtf8(bool littleEndian, SimdLevel level = ActiveSimdLevel())
        : littleEndian(littleEndian), level(level)
    {}
    // Appends the UTF-8 of the whole characters in data, behind what was carried over; false
    // at a lone surrogate.
    bool add(const char *data, qint64 size, std::string &utf8);
    // Nothing is left over at the end of the text.
    bool complete() const { return pendingBytes == 0 && highSurrogate == 0; }

private:
    bool unit(char16_t unit, char *&out);
    const bool littleEndian;
    const SimdLevel level;
    unsigned char pending[1] = {}; // a unit's first byte
    int pendingBytes = 0;
    char16_t highSurrogate = 0; // waiting for its low half
};

class Utf8ToUtf16
{
public:
    explicit Utf8ToUtf16(bool littleEndian, SimdLevel level = ActiveSimdLevel())
        : littleEndian(littleEndian), level(level)
    {}
    // Appends the UTF-16 bytes of well-formed UTF-8, which may stop inside a character.
    void add(const char *data, qint64 size, std::string &utf16);
    bool complete() const { return pendingBytes == 0; }

private:
    void put(char16_t unit, char *&out) const;
    const bool littleEndian;
    const SimdLevel level;
    unsigned char pending[4] = {};
    int pendingBytes = 0;
};
