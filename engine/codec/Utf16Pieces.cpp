#include "engine/codec/Utf16Pieces.h"

#include "engine/simd/Kernels.h"

#include <algorithm>
#include <cstddef>

namespace {

int SequenceLength(unsigned char lead)
{
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

template <bool little> char16_t Unit(const unsigned char *bytes)
{
    return little ? char16_t(bytes[0] | bytes[1] << 8) : char16_t(bytes[0] << 8 | bytes[1]);
}

template <bool little> void Put(char16_t unit, char *&out)
{
    out[little ? 0 : 1] = char(unit & 0xFF);
    out[little ? 1 : 0] = char(unit >> 8);
    out += 2;
}

// A unit that is no surrogate, as UTF-8.
inline void PutUtf8(char16_t unit, char *&out)
{
    if (unit < 0x80) {
        *out++ = char(unit);
    } else if (unit < 0x800) {
        out[0] = char(0xC0 | unit >> 6);
        out[1] = char(0x80 | (unit & 0x3F));
        out += 2;
    } else {
        out[0] = char(0xE0 | unit >> 12);
        out[1] = char(0x80 | (unit >> 6 & 0x3F));
        out[2] = char(0x80 | (unit & 0x3F));
        out += 3;
    }
}

// The units up to the first surrogate, in locals the compiler keeps in registers: through the
// members, every byte written might alias them and force them to be read again.
// With vector set, runs of eight units all ASCII or all Chinese go eight at a time, and the
// eight after such a run one by one.
template <bool little>
const unsigned char *UnitsToUtf8(const unsigned char *bytes, const unsigned char *end, char *&to,
                                 [[maybe_unused]] bool vector)
{
    char *out = to;
    while (end - bytes >= 2) {
#if defined(PARAFOLD_AVX2_KERNELS)
        if (vector) {
            size_t converted = 0;
            out += kernels::Utf16ToUtf8Avx2(bytes, size_t(end - bytes) / 2, little,
                                            reinterpret_cast<unsigned char *>(out), converted);
            bytes += 2 * converted;
        }
#endif
        const unsigned char *const stop = bytes + std::min<std::ptrdiff_t>((end - bytes) & ~1, 16);
        for (; bytes < stop; bytes += 2) {
            const char16_t unit = Unit<little>(bytes);
            if ((unit & 0xF800) == 0xD800) { // a surrogate
                to = out;
                return bytes;
            }
            PutUtf8(unit, out);
        }
    }
    to = out;
    return bytes;
}

// Whole sequences of one to three bytes, up to a four-byte one or one cut at the end; with
// vector set, as UnitsToUtf8.
template <bool little>
const unsigned char *Utf8ToUnits(const unsigned char *bytes, const unsigned char *end, char *&to,
                                 [[maybe_unused]] bool vector)
{
    char *out = to;
    while (bytes < end) {
#if defined(PARAFOLD_AVX2_KERNELS)
        if (vector) {
            size_t written = 0;
            bytes += kernels::Utf8ToUtf16Avx2(bytes, size_t(end - bytes), little,
                                              reinterpret_cast<unsigned char *>(out), written);
            out += written;
        }
#endif
        const unsigned char *const stop = bytes + std::min<std::ptrdiff_t>(end - bytes, 16);
        while (bytes < stop) {
            const unsigned char lead = *bytes;
            if (lead < 0x80) {
                Put<little>(lead, out);
                ++bytes;
            } else if ((lead & 0xF0) == 0xE0 && end - bytes >= 3) {
                Put<little>(
                    char16_t((lead & 0x0F) << 12 | (bytes[1] & 0x3F) << 6 | (bytes[2] & 0x3F)),
                    out);
                bytes += 3;
            } else if ((lead & 0xE0) == 0xC0 && end - bytes >= 2) {
                Put<little>(char16_t((lead & 0x1F) << 6 | (bytes[1] & 0x3F)), out);
                bytes += 2;
            } else {
                to = out;
                return bytes;
            }
        }
    }
    to = out;
    return bytes;
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
    while (ok && end - bytes >= 2) {
        if (highSurrogate == 0) {
            const bool vector = level == SimdLevel::Avx2;
            bytes = littleEndian ? UnitsToUtf8<true>(bytes, end, out, vector)
                                 : UnitsToUtf8<false>(bytes, end, out, vector);
            if (end - bytes < 2)
                break;
        }
        ok = unit(take(bytes[0], bytes[1]), out);
        bytes += 2;
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
    if (high)
        highSurrogate = unit;
    else
        PutUtf8(unit, out);
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
            const bool vector = level == SimdLevel::Avx2;
            bytes = littleEndian ? Utf8ToUnits<true>(bytes, end, out, vector)
                                 : Utf8ToUnits<false>(bytes, end, out, vector);
            if (bytes == end)
                break;
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
    littleEndian ? Put<true>(unit, out) : Put<false>(unit, out);
}
