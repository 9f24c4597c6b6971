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

} // namespace kernels

#endif
