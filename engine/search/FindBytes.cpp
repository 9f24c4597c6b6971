#include "engine/search/FindBytes.h"

#include "engine/simd/Kernels.h"

#include <cstring>

namespace {

const char *ScalarFind(const char *from, const char *end, const char *needle, qsizetype length)
{
    const char *lastStart = end - length;
    for (const char *at = from; at <= lastStart; ++at) {
        at = static_cast<const char *>(std::memchr(at, needle[0], size_t(lastStart - at) + 1));
        if (!at)
            return nullptr;
        if (std::memcmp(at + 1, needle + 1, size_t(length) - 1) == 0)
            return at;
    }
    return nullptr;
}

[[maybe_unused]] const char *Signed(const unsigned char *at)
{
    return reinterpret_cast<const char *>(at);
}

[[maybe_unused]] const unsigned char *Unsigned(const char *at)
{
    return reinterpret_cast<const unsigned char *>(at);
}

} // namespace

const char *FindBytes(SimdLevel level, const char *from, const char *end, const char *needle,
                      qsizetype length)
{
    if (length == 0)
        return from;
    if (end - from < length)
        return nullptr;
    [[maybe_unused]] const auto size = static_cast<size_t>(end - from);
    switch (level) {
#if defined(__SSE2__)
    case SimdLevel::Sse2:
        return Signed(kernels::FindSse2(Unsigned(from), size, Unsigned(needle), size_t(length)));
#endif
#if defined(PARAFOLD_AVX2_KERNELS)
    case SimdLevel::Avx2:
        return Signed(kernels::FindAvx2(Unsigned(from), size, Unsigned(needle), size_t(length)));
#endif
    default:
        return ScalarFind(from, end, needle, length);
    }
}

const char *FindBytes(const char *from, const char *end, const char *needle, qsizetype length)
{
    return FindBytes(ActiveSimdLevel(), from, end, needle, length);
}
