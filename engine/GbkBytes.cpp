#include "GbkBytes.h"

#include <cstdint>
#include <cstring>

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

} // namespace

bool IsCleanGbk(const char *data, qsizetype size)
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
