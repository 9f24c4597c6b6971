#pragma once

#include <vector>

// The instruction sets the byte checks and the byte search have kernels for.
enum class SimdLevel
{
    Scalar,
    Sse2, // every x86-64 processor
    Avx2,
};

// The best level this processor runs, picked once per process. The environment variable
// PARAFOLD_SIMD ("scalar" or "sse2") caps it, so that a test run or a benchmark can take the
// lower kernels on any machine.
SimdLevel ActiveSimdLevel();

// Every level this processor runs, lowest first, whatever PARAFOLD_SIMD says.
std::vector<SimdLevel> SupportedSimdLevels();
