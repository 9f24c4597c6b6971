#include "engine/simd/Kernels.h"

// Built with the compiler's AVX2 switch, and only called on processors that have it.
#if defined(__AVX2__)

#include <immintrin.h>

#include "engine/simd/BlockKernels.h"

namespace {

struct Avx2
{
    using V = __m256i;
    static constexpr int width = 32;
    static V load(const unsigned char *p)
    {
        return _mm256_loadu_si256(reinterpret_cast<const V *>(p));
    }
    static V set1(char c) { return _mm256_set1_epi8(c); }
    static V eq(V a, V b) { return _mm256_cmpeq_epi8(a, b); }
    static V gt(V a, V b) { return _mm256_cmpgt_epi8(a, b); } // signed
    static V and_(V a, V b) { return _mm256_and_si256(a, b); }
    static V or_(V a, V b) { return _mm256_or_si256(a, b); }
    static unsigned bits(V v) { return static_cast<unsigned>(_mm256_movemask_epi8(v)); }
};

} // namespace

namespace kernels {

bool IsValidUtf8Avx2(const unsigned char *data, size_t size)
{
    return CheckBlocks<Utf8Checker<Avx2>>(data, size);
}

bool IsCleanGbkAvx2(const unsigned char *data, size_t size)
{
    return CheckBlocks<GbkChecker<Avx2>>(data, size);
}

const unsigned char *FindAvx2(const unsigned char *haystack, size_t size,
                              const unsigned char *needle, size_t length)
{
    return FindNeedle<Avx2>(haystack, size, needle, length);
}

size_t Utf16ToUtf8Avx2(const unsigned char *units, size_t count, bool littleEndian,
                       unsigned char *out, size_t &converted)
{
    const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    // Lead and middle bytes (packed as leads 0-7, middles 8-15), then the last bytes, put in
    // the order of the characters: 24 bytes, stored as 16 and 8.
    const __m128i leadsMiddles =
        _mm_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5);
    const __m128i lasts = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
    const __m128i leadsMiddlesRest =
        _mm_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i lastsRest =
        _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i zero = _mm_setzero_si128();
    unsigned char *const start = out;
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(units + 2 * i));
        if (!littleEndian)
            v = _mm_shuffle_epi8(v, swap);
        if (_mm_movemask_epi8(
                _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(short(0xFF80))), zero)) == 0xFFFF) {
            _mm_storel_epi64(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(v, v));
            out += 8;
            continue;
        }
        // Below U+0800 (top five bits 0) or a surrogate (11011): not three bytes.
        const __m128i top = _mm_srli_epi16(v, 11);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(top, zero),
                                           _mm_cmpeq_epi16(top, _mm_set1_epi16(0x1B)))) != 0)
            break;
        const __m128i leads = _mm_or_si128(_mm_srli_epi16(v, 12), _mm_set1_epi16(0xE0));
        const __m128i middles = _mm_or_si128(
            _mm_and_si128(_mm_srli_epi16(v, 6), _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
        const __m128i ends =
            _mm_or_si128(_mm_and_si128(v, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
        const __m128i packed = _mm_packus_epi16(leads, middles);
        const __m128i packedEnds = _mm_packus_epi16(ends, ends);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                         _mm_or_si128(_mm_shuffle_epi8(packed, leadsMiddles),
                                      _mm_shuffle_epi8(packedEnds, lasts)));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 16),
                         _mm_or_si128(_mm_shuffle_epi8(packed, leadsMiddlesRest),
                                      _mm_shuffle_epi8(packedEnds, lastsRest)));
        out += 24;
    }
    converted = i;
    return size_t(out - start);
}

size_t Utf8ToUtf16Avx2(const unsigned char *utf8, size_t size, bool littleEndian,
                       unsigned char *out, size_t &written)
{
    const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    // From 24 bytes held as the first 16 (a) and the last 8 (b, in its low half): each
    // character's lead, middle and last byte, one per 16-bit lane.
    const __m128i leadsA =
        _mm_setr_epi8(0, -1, 3, -1, 6, -1, 9, -1, 12, -1, 15, -1, -1, -1, -1, -1);
    const __m128i leadsB =
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, -1, 5, -1);
    const __m128i middlesA =
        _mm_setr_epi8(1, -1, 4, -1, 7, -1, 10, -1, 13, -1, -1, -1, -1, -1, -1, -1);
    const __m128i middlesB =
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, -1, 3, -1, 6, -1);
    const __m128i lastsA =
        _mm_setr_epi8(2, -1, 5, -1, 8, -1, 11, -1, 14, -1, -1, -1, -1, -1, -1, -1);
    const __m128i lastsB =
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, -1, 4, -1, 7, -1);
    const __m128i zero = _mm_setzero_si128();
    const unsigned char *const start = out;
    size_t i = 0;
    for (;;) {
        if (i + 8 <= size) {
            const __m128i ascii = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(utf8 + i));
            if (_mm_movemask_epi8(ascii) == 0) {
                __m128i units = _mm_unpacklo_epi8(ascii, zero);
                if (!littleEndian)
                    units = _mm_shuffle_epi8(units, swap);
                _mm_storeu_si128(reinterpret_cast<__m128i *>(out), units);
                out += 16;
                i += 8;
                continue;
            }
        }
        if (i + 24 > size)
            break;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(utf8 + i));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(utf8 + i + 16));
        const __m128i leads =
            _mm_or_si128(_mm_shuffle_epi8(a, leadsA), _mm_shuffle_epi8(b, leadsB));
        // Well-formed UTF-8 from a character's start: eight three-byte leads, three bytes
        // apart, make eight three-byte characters.
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(leads, _mm_set1_epi16(0xF0)),
                                              _mm_set1_epi16(0xE0))) != 0xFFFF)
            break;
        const __m128i middles =
            _mm_or_si128(_mm_shuffle_epi8(a, middlesA), _mm_shuffle_epi8(b, middlesB));
        const __m128i lasts =
            _mm_or_si128(_mm_shuffle_epi8(a, lastsA), _mm_shuffle_epi8(b, lastsB));
        __m128i units = _mm_or_si128(
            _mm_or_si128(_mm_slli_epi16(_mm_and_si128(leads, _mm_set1_epi16(0x0F)), 12),
                         _mm_slli_epi16(_mm_and_si128(middles, _mm_set1_epi16(0x3F)), 6)),
            _mm_and_si128(lasts, _mm_set1_epi16(0x3F)));
        if (!littleEndian)
            units = _mm_shuffle_epi8(units, swap);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), units);
        out += 16;
        i += 24;
    }
    written = size_t(out - start);
    return i;
}

} // namespace kernels

#endif
