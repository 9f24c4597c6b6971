#pragma once

#include "engine/simd/SimdLevel.h"

#include <QtGlobal>

// The first occurrence of the needle in [from, end), or nullptr; an empty needle is found at
// from. Portable in place of the GNU memmem, and faster on text: vector kernels where the
// processor has them.
const char *FindBytes(const char *from, const char *end, const char *needle, qsizetype length);
// The same with the kernel of a given level, which the processor must support.
const char *FindBytes(SimdLevel level, const char *from, const char *end, const char *needle,
                      qsizetype length);
