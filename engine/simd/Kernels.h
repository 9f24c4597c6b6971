#pragma once

#include <cstddef>

// The vector kernels behind the byte checks and the byte search, one set per instruction
// set; callers go through ByteChecks.h and FindBytes.h, which pick the set at run time.
// Each set lives in a translation unit of its own, compiled for its instruction set.
namespace kernels {

bool IsValidUtf8Sse2(const unsigned char *data, size_t size);
bool IsCleanGbkSse2(const unsigned char *data, size_t size);
// The first occurrence of the needle (at least one byte, no longer than the haystack).
const unsigned char *FindSse2(const unsigned char *haystack, size_t size,
                              const unsigned char *needle, size_t length);

bool IsValidUtf8Avx2(const unsigned char *data, size_t size);
bool IsCleanGbkAvx2(const unsigned char *data, size_t size);
const unsigned char *FindAvx2(const unsigned char *haystack, size_t size,
                              const unsigned char *needle, size_t length);

} // namespace kernels
