#include "engine/codec/Utf16Pieces.h"

namespace {

int SequenceLength(unsigned char lead)
{
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

} // namespace

// Written through a pointer into room made beforehand: appending a byte at a time costs more
// than the conversion itself.
bool Utf16ToUtf8::add(const char *data, qint64 size, std::string &utf8)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    const auto *const end = bytes + size;
    const size_t start = utf8.size();
    utf8.resize(start + size_t(size / 2 + 2) * 3);
    char *out = &utf8[start];
    const auto take = [this](unsigned char first, unsigned char second) {
        return char16_t(littleEndian ? first | second << 8 : first << 8 | second);
    };
    bool ok = true;
    if (pendingBytes == 1 && bytes < end) {
        pendingBytes = 0;
        ok = unit(take(pending[0], *bytes++), out);
    }
    for (; ok && end - bytes >= 2; bytes += 2) {
        const char16_t each = take(bytes[0], bytes[1]);
        if (highSurrogate == 0 && each >= 0x800 && (each < 0xD800 || each >= 0xE000)) {
            *out++ = char(0xE0 | each >> 12); // most units of Chinese text
            *out++ = char(0x80 | (each >> 6 & 0x3F));
            *out++ = char(0x80 | (each & 0x3F));
        } else if (highSurrogate == 0 && each < 0x80) {
            *out++ = char(each);
        } else {
            ok = unit(each, out);
        }
    }
    if (ok && bytes < end) {
        pending[0] = *bytes;
        pendingBytes = 1;
    }
    utf8.resize(size_t(out - utf8.data()));
    return ok;
}

bool Utf16ToUtf8::unit(char16_t unit, char *&out)
{
    const bool high = unit >= 0xD800 && unit < 0xDC00;
    const bool low = unit >= 0xDC00 && unit < 0xE000;
    if (highSurrogate != 0) {
        if (!low)
            return false;
        const char32_t c = 0x10000 + ((char32_t(highSurrogate) - 0xD800) << 10) + (unit - 0xDC00);
        highSurrogate = 0;
        *out++ = char(0xF0 | c >> 18);
        *out++ = char(0x80 | (c >> 12 & 0x3F));
        *out++ = char(0x80 | (c >> 6 & 0x3F));
        *out++ = char(0x80 | (c & 0x3F));
        return true;
    }
    if (low)
        return false;
    if (high) {
        highSurrogate = unit;
    } else if (unit < 0x80) {
        *out++ = char(unit);
    } else if (unit < 0x800) {
        *out++ = char(0xC0 | unit >> 6);
        *out++ = char(0x80 | (unit & 0x3F));
    } else {
        *out++ = char(0xE0 | unit >> 12);
        *out++ = char(0x80 | (unit >> 6 & 0x3F));
        *out++ = char(0x80 | (unit & 0x3F));
    }
    return true;
}

void Utf8ToUtf16::add(const char *data, qint64 size, std::string &utf16)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    const auto *const end = bytes + size;
    const size_t start = utf16.size();
    utf16.resize(start + size_t(size + 4) * 2);
    char *out = &utf16[start];
    while (bytes < end) {
        if (pendingBytes == 0) {
            if (*bytes < 0x80) {
                put(*bytes++, out);
                continue;
            }
            if ((*bytes & 0xF0) == 0xE0 && end - bytes >= 3) {
                put(char16_t((bytes[0] & 0x0F) << 12 | (bytes[1] & 0x3F) << 6 | (bytes[2] & 0x3F)),
                    out);
                bytes += 3;
                continue;
            }
        }
        pending[pendingBytes++] = *bytes++;
        const int length = SequenceLength(pending[0]);
        if (pendingBytes < length)
            continue;
        pendingBytes = 0;
        char32_t c = length == 2   ? pending[0] & 0x1F
                     : length == 3 ? pending[0] & 0x0F
                                   : pending[0] & 0x07;
        for (int i = 1; i < length; ++i)
            c = c << 6 | (pending[i] & 0x3F);
        if (c < 0x10000) {
            put(char16_t(c), out);
        } else {
            put(char16_t(0xD800 + ((c - 0x10000) >> 10)), out);
            put(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)), out);
        }
    }
    utf16.resize(size_t(out - utf16.data()));
}

void Utf8ToUtf16::put(char16_t unit, char *&out) const
{
    const char low = char(unit & 0xFF);
    const char high = char(unit >> 8);
    *out++ = littleEndian ? low : high;
    *out++ = littleEndian ? high : low;
}
