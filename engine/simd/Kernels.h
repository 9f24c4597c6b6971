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
// UTF-16 into UTF-8 eight units at a time while each eight are all ASCII or all three-byte
// characters (U+0800 to U+FFFF, no surrogate); converted is the units taken, a multiple of
// eight, and the bytes written are returned.
size_t Utf16ToUtf8Avx2(const unsigned char *units, size_t count, bool littleEndian,
                       unsigned char *out, size_t &converted);
// Well-formed UTF-8 from a character's start into UTF-16, eight characters at a time while
// each eight are all ASCII or all three bytes long; the UTF-8 bytes taken are returned and
// written is the UTF-16 bytes written.
size_t Utf8ToUtf16Avx2(const unsigned char *utf8, size_t size, bool littleEndian,
                       unsigned char *out, size_t &written);

} // namespace kernels
