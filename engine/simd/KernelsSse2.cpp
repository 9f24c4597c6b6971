#include "engine/simd/Kernels.h"

#if defined(__SSE2__)

#include <emmintrin.h>

#include "engine/simd/BlockKernels.h"

namespace {

struct Sse2
{
    using V = __m128i;
    static constexpr int width = 16;
    static V load(const unsigned char *p)
    {
        return _mm_loadu_si128(reinterpret_cast<const V *>(p));
    }
    static V set1(char c) { return _mm_set1_epi8(c); }
    static V eq(V a, V b) { return _mm_cmpeq_epi8(a, b); }
    static V gt(V a, V b) { return _mm_cmpgt_epi8(a, b); } // signed
    static V and_(V a, V b) { return _mm_and_si128(a, b); }
    static V or_(V a, V b) { return _mm_or_si128(a, b); }
    static unsigned bits(V v) { return static_cast<unsigned>(_mm_movemask_epi8(v)); }
};

} // namespace

namespace kernels {

bool IsValidUtf8Sse2(const unsigned char *data, size_t size)
{
    return CheckBlocks<Utf8Checker<Sse2>>(data, size);
}

bool IsCleanGbkSse2(const unsigned char *data, size_t size)
{
    return CheckBlocks<GbkChecker<Sse2>>(data, size);
}

const unsigned char *FindSse2(const unsigned char *haystack, size_t size,
                              const unsigned char *needle, size_t length)
{
    return FindNeedle<Sse2>(haystack, size, needle, length);
}

} // namespace kernels

#endif
