#include "engine/codec/ByteChecks.h"

#include "engine/simd/Kernels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

[[maybe_unused]] const unsigned char *Unsigned(const char *data)
{
    return reinterpret_cast<const unsigned char *>(data);
}

// The length of the well-formed UTF-8 sequence of two to four bytes starting at bytes, or 0.
int Utf8SequenceLength(const unsigned char *bytes, qsizetype available)
{
    const unsigned char lead = bytes[0];
    int length;
    unsigned char secondMin = 0x80;
    unsigned char secondMax = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            secondMin = 0xA0; // overlong below U+0800
        else if (lead == 0xED)
            secondMax = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            secondMin = 0x90; // overlong below U+10000
        else if (lead == 0xF4)
            secondMax = 0x8F; // above U+10FFFF
    } else {
        return 0;
    }
    if (available < length || bytes[1] < secondMin || bytes[1] > secondMax)
        return 0;
    for (int k = 2; k < length; ++k) {
        if (!IsContinuation(bytes[k]))
            return 0;
    }
    return length;
}

bool ScalarIsValidUtf8(const char *data, qsizetype size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    qsizetype i = 0;
    while (i < size) {
        // Most text files are largely ASCII; skip it eight bytes at a time.
        if (size - i >= 8) {
            std::uint64_t block;
            std::memcpy(&block, bytes + i, sizeof block);
            if ((block & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Chinese text is mostly three-byte characters whose second byte needs no range check.
        if (lead >= 0xE1 && lead != 0xED && lead <= 0xEF && size - i >= 3 &&
            IsContinuation(bytes[i + 1]) && IsContinuation(bytes[i + 2])) {
            i += 3;
            continue;
        }
        const int length = Utf8SequenceLength(bytes + i, size - i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

} // namespace

bool IsDamagedUtf8(const char *data, qsizetype size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    // Text in another encoding breaks UTF-8 at nearly every other non-ASCII byte; a UTF-8
    // text with a few broken bytes has twenty whole characters and more for each fault.
    const qsizetype wholePerFault = 20;
    qsizetype whole = 0;
    qsizetype faults = 0;
    qsizetype i = 0;
    while (i < size) {
        if (bytes[i] < 0x80) {
            ++i;
            continue;
        }
        const int length = Utf8SequenceLength(bytes + i, size - i);
        if (length > 0) {
            ++whole;
            i += length;
            continue;
        }
        ++faults;
        ++i;
        if (faults >= 16 && faults * wholePerFault > whole)
            return false; // settled early for the GBK files that come this way
    }
    return faults > 0 && whole >= faults * wholePerFault && !IsCleanGbk(data, size) &&
           !IsWellFormedGb18030(data, size);
}

int Utf8CutOffTail(const char *data, qsizetype size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    qsizetype lead = size - 1;
    while (lead >= 0 && lead > size - 4 && IsContinuation(bytes[lead]))
        --lead;
    if (lead < 0 || lead <= size - 4)
        return 0;
    const unsigned char byte = bytes[lead];
    const int needed = byte >= 0xC2 && byte <= 0xDF   ? 2
                       : byte >= 0xE0 && byte <= 0xEF ? 3
                       : byte >= 0xF0 && byte <= 0xF4 ? 4
                                                      : 0;
    const int present = static_cast<int>(size - lead);
    return present < needed ? present : 0;
}

namespace {

bool IsLead(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

bool IsTrail(unsigned char byte)
{
    return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}

bool HasZeroByte(std::uint64_t block)
{
    return ((block - 0x0101010101010101ull) & ~block & 0x8080808080808080ull) != 0;
}

// Eight bytes of 81-FE from a character start are four whole characters.
bool AllLeadBytes(std::uint64_t block)
{
    const std::uint64_t high = 0x8080808080808080ull;
    return (block & high) == high && !HasZeroByte(block ^ high) && !HasZeroByte(~block);
}

bool ScalarIsCleanGbk(const char *data, qsizetype size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    qsizetype i = 0;
    while (i < size) {
        if (size - i >= 8) {
            std::uint64_t block;
            std::memcpy(&block, bytes + i, sizeof block);
            if ((block & 0x8080808080808080ull) == 0 || AllLeadBytes(block)) {
                i += 8;
                continue;
            }
        }
        if (!IsLead(bytes[i])) {
            ++i;
            continue;
        }
        if (i + 1 == size || !IsTrail(bytes[i + 1]))
            return false;
        i += 2;
    }
    return true;
}

} // namespace

bool IsWellFormedGb18030(const char *data, qsizetype size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    const auto digit = [](unsigned char byte) { return byte >= 0x30 && byte <= 0x39; };
    qsizetype i = 0;
    while (i < size) {
        const unsigned char byte = bytes[i];
        if (byte < 0x80) {
            ++i;
            continue;
        }
        if (!IsLead(byte) || i + 1 == size)
            return false;
        if (IsTrail(bytes[i + 1])) {
            i += 2;
            continue;
        }
        if (size - i < 4 || !digit(bytes[i + 1]) || !IsLead(bytes[i + 2]) || !digit(bytes[i + 3]))
            return false;
        i += 4;
    }
    return true;
}

bool IsGb18030OnlyPair(unsigned char lead, unsigned char trail)
{
    switch (lead) {
    case 0xA2:
        return trail == 0xE3;
    case 0xA8:
        return trail == 0xBC || trail == 0xBF;
    case 0xA9:
        return trail >= 0x89 && trail <= 0x95;
    case 0xFE:
        break;
    default:
        return false;
    }
    if (trail < 0x50 || trail > 0x9F)
        return false;
    // Row FE from 50 to 9F, but for the cells that GB18030 too leaves in the private-use area.
    static const unsigned char privateUse[] = {0x51, 0x52, 0x53, 0x59, 0x61, 0x66, 0x67,
                                               0x6C, 0x6D, 0x76, 0x7E, 0x7F, 0x90, 0x91};
    return std::find(std::begin(privateUse), std::end(privateUse), trail) == std::end(privateUse);
}

bool HoldsGb18030OnlyPair(const char *data, qsizetype size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    const auto spread = [](unsigned char byte) { return 0x0101010101010101ull * byte; };
    GbkCharStarts starts(data);
    qsizetype i = 0;
    while (i + 1 < size) {
        if (size - i >= 9) {
            // Most blocks hold none of the four lead bytes.
            std::uint64_t block;
            std::memcpy(&block, bytes + i, sizeof block);
            if (!HasZeroByte(block ^ spread(0xA2)) && !HasZeroByte(block ^ spread(0xA8)) &&
                !HasZeroByte(block ^ spread(0xA9)) && !HasZeroByte(block ^ spread(0xFE))) {
                i += 8;
                continue;
            }
        }
        if (IsGb18030OnlyPair(bytes[i], bytes[i + 1]) && starts.startsAt(data + i))
            return true;
        ++i;
    }
    return false;
}

bool IsCleanBig5Prefix(const char *data, qsizetype size)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    qsizetype i = 0;
    while (i < size) {
        if (!IsLead(bytes[i])) {
            ++i;
            continue;
        }
        if (i + 1 == size)
            return true;
        const unsigned char trail = bytes[i + 1];
        if (!((trail >= 0x40 && trail <= 0x7E) || (trail >= 0xA1 && trail <= 0xFE)))
            return false;
        i += 2;
    }
    return true;
}

GbkCharStarts::GbkCharStarts(const char *begin)
    : begin(reinterpret_cast<const unsigned char *>(begin)), known(this->begin)
{}

bool GbkCharStarts::startsAt(const char *at)
{
    const auto *target = reinterpret_cast<const unsigned char *>(at);
    // A byte below 40 is never a trail byte, so a character starts right after it; walking
    // from the last such byte is short in text with any ASCII in it.
    for (const unsigned char *p = target; p > known; --p) {
        if (p[-1] < 0x40) {
            known = p;
            break;
        }
    }
    while (known < target)
        known += IsLead(*known) ? 2 : 1;
    return known == target;
}

bool IsValidUtf8(SimdLevel level, const char *data, qsizetype size)
{
    switch (level) {
#if defined(__SSE2__)
    case SimdLevel::Sse2:
        return kernels::IsValidUtf8Sse2(Unsigned(data), static_cast<size_t>(size));
#endif
#if defined(PARAFOLD_AVX2_KERNELS)
    case SimdLevel::Avx2:
        return kernels::IsValidUtf8Avx2(Unsigned(data), static_cast<size_t>(size));
#endif
    default:
        return ScalarIsValidUtf8(data, size);
    }
}

bool IsValidUtf8(const char *data, qsizetype size)
{
    return IsValidUtf8(ActiveSimdLevel(), data, size);
}

bool IsCleanGbk(SimdLevel level, const char *data, qsizetype size)
{
    switch (level) {
#if defined(__SSE2__)
    case SimdLevel::Sse2:
        return kernels::IsCleanGbkSse2(Unsigned(data), static_cast<size_t>(size));
#endif
#if defined(PARAFOLD_AVX2_KERNELS)
    case SimdLevel::Avx2:
        return kernels::IsCleanGbkAvx2(Unsigned(data), static_cast<size_t>(size));
#endif
    default:
        return ScalarIsCleanGbk(data, size);
    }
}

bool IsCleanGbk(const char *data, qsizetype size)
{
    return IsCleanGbk(ActiveSimdLevel(), data, size);
}
