#include "engine/simd/SimdLevel.h"

#include <QByteArray>
#include <QtGlobal>

namespace {

SimdLevel BestLevel()
{
#if defined(PARAFOLD_AVX2_KERNELS)
    // The compiler's check also asks the system whether it saves the wide registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        return SimdLevel::Avx2;
#endif
#if defined(__SSE2__)
    return SimdLevel::Sse2;
#else
    return SimdLevel::Scalar;
#endif
}

SimdLevel CappedLevel()
{
    const SimdLevel best = BestLevel();
    const QByteArray cap = qgetenv("PARAFOLD_SIMD");
    if (cap == "scalar")
        return SimdLevel::Scalar;
    if (cap == "sse2" && best == SimdLevel::Avx2)
        return SimdLevel::Sse2;
    return best;
}

} // namespace

SimdLevel ActiveSimdLevel()
{
    static const SimdLevel level = CappedLevel();
    return level;
}

std::vector<SimdLevel> SupportedSimdLevels()
{
    std::vector<SimdLevel> levels{SimdLevel::Scalar};
    const SimdLevel best = BestLevel();
    if (best >= SimdLevel::Sse2)
        levels.push_back(SimdLevel::Sse2);
    if (best >= SimdLevel::Avx2)
        levels.push_back(SimdLevel::Avx2);
    return levels;
}
