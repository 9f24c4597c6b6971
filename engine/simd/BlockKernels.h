#pragma once

// The algorithms of the vector kernels, written once over a vector policy P that gives
// loads, byte compares and bit masks. Included only by the kernel translation units, each
// compiled for its own instruction set; everything here has internal linkage, so no
// instruction of one set leaks into code that the other set's processors run.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// The per-byte masks of a 64-byte block, bit i for byte i.
template <class P> struct Block
{
    typename P::V v[64 / P::width];

    explicit Block(const unsigned char *data)
    {
        for (int i = 0; i < 64 / P::width; ++i)
            v[i] = P::load(data + i * P::width);
    }
    template <class F> std::uint64_t mask(F test) const
    {
        std::uint64_t bits = 0;
        for (int i = 0; i < 64 / P::width; ++i)
            bits |= std::uint64_t(P::bits(test(v[i]))) << (i * P::width);
        return bits;
    }
};

template <class P> typename P::V Byte(int value)
{
    return P::set1(static_cast<char>(value));
}

// Byte compares are signed, so for a value in 81-FF: AtLeast holds for x >= value and also
// for every byte below 80, which callers mask off; Below holds exactly for 80 <= x < value.
template <class P> typename P::V AtLeast(typename P::V x, int value)
{
    return P::gt(x, Byte<P>(value - 1));
}
template <class P> typename P::V Below(typename P::V x, int value)
{
    return P::gt(Byte<P>(value), x);
}

// UTF-8 checked 64 bytes at a time with bit masks: every lead byte asks for as many
// continuation bytes as its sequence needs, and exactly the continuation bytes must be
// asked for. The rare leads with a narrower second byte (E0, ED, F0, F4) and the bytes that
// never occur (C0, C1, F5-FF) are looked at only in blocks that hold one.
template <class P> class Utf8Checker
{
public:
    bool block(const unsigned char *data)
    {
        using V = typename P::V;
        const Block<P> b(data);
        const std::uint64_t high = b.mask([](V x) { return x; });
        const std::uint64_t carried = (lead2 >> 63) | (lead3 >> 62) | (lead4 >> 61);
        if (high == 0) {
            lead2 = lead3 = lead4 = narrow = 0;
            return carried == 0;
        }
        const std::uint64_t atLeastC0 = high & b.mask([](V x) { return AtLeast<P>(x, 0xC0); });
        const std::uint64_t atLeastE0 = high & b.mask([](V x) { return AtLeast<P>(x, 0xE0); });
        const std::uint64_t rare = high & b.mask([](V x) {
            return P::or_(
                P::or_(P::eq(x, Byte<P>(0xE0)), P::eq(x, Byte<P>(0xED))),
                P::or_(AtLeast<P>(x, 0xF0), P::eq(P::and_(x, Byte<P>(0xFE)), Byte<P>(0xC0))));
        });
        const std::uint64_t continuation = high & ~atLeastC0;
        std::uint64_t error = 0;
        std::uint64_t atLeastF0 = 0;
        if (rare != 0 || narrow != 0) {
            atLeastF0 = high & b.mask([](V x) { return AtLeast<P>(x, 0xF0); });
            const std::uint64_t never = high & b.mask([](V x) {
                return P::or_(P::eq(P::and_(x, Byte<P>(0xFE)), Byte<P>(0xC0)), AtLeast<P>(x, 0xF5));
            });
            const std::uint64_t below90 = b.mask([](V x) { return Below<P>(x, 0x90); });
            const std::uint64_t belowA0 = b.mask([](V x) { return Below<P>(x, 0xA0); });
            const std::uint64_t e0 = b.mask([](V x) { return P::eq(x, Byte<P>(0xE0)); });
            const std::uint64_t ed = b.mask([](V x) { return P::eq(x, Byte<P>(0xED)); });
            const std::uint64_t f0 = b.mask([](V x) { return P::eq(x, Byte<P>(0xF0)); });
            const std::uint64_t f4 = b.mask([](V x) { return P::eq(x, Byte<P>(0xF4)); });
            // below90 and belowA0 hold only continuation bytes: ASCII compares as positive.
            error |= never;
            error |= Next(e0, narrowE0) & belowA0;                 // overlong below U+0800
            error |= Next(ed, narrowED) & continuation & ~belowA0; // surrogates
            error |= Next(f0, narrowF0) & below90;                 // overlong below U+10000
            error |= Next(f4, narrowF4) & continuation & ~below90; // above U+10FFFF
            narrowE0 = e0;
            narrowED = ed;
            narrowF0 = f0;
            narrowF4 = f4;
            narrow = (e0 | ed | f0 | f4) >> 63;
        } else {
            narrowE0 = narrowED = narrowF0 = narrowF4 = 0;
        }
        const std::uint64_t needed = Next(atLeastC0, lead2) | (atLeastE0 << 2) | (lead3 >> 62) |
                                     (atLeastF0 << 3) | (lead4 >> 61);
        error |= needed ^ continuation;
        lead2 = atLeastC0;
        lead3 = atLeastE0;
        lead4 = atLeastF0;
        return error == 0;
    }
    // Nothing is still waiting for continuation bytes past the end.
    bool finished() const { return ((lead2 >> 63) | (lead3 >> 62) | (lead4 >> 61)) == 0; }

private:
    // The bytes right after the marked ones, the previous block's last byte included.
    static std::uint64_t Next(std::uint64_t marked, std::uint64_t previous)
    {
        return (marked << 1) | (previous >> 63);
    }

    // The previous block's masks: leads of two or more, three or more, four bytes.
    std::uint64_t lead2 = 0;
    std::uint64_t lead3 = 0;
    std::uint64_t lead4 = 0;
    std::uint64_t narrowE0 = 0;
    std::uint64_t narrowED = 0;
    std::uint64_t narrowF0 = 0;
    std::uint64_t narrowF4 = 0;
    std::uint64_t narrow = 0; // the previous block ended in one of those leads
};

// Clean GBK checked 64 bytes at a time. A character starts right after every byte outside
// 81-FE (it is a character of its own or a trail byte), so in a run of such lead bytes the
// leads are the bytes at even distance from the run's start. A run of odd length thus ends
// in a lead whose trail is the byte after the run, which must be 40-7E or 80. The odd runs
// are found with carries, as in the well-known search for odd runs of backslashes.
template <class P> class GbkChecker
{
public:
    bool block(const unsigned char *data)
    {
        using V = typename P::V;
        const Block<P> b(data);
        const std::uint64_t high = b.mask([](V x) { return x; });
        if (high == 0 && oddCarry == 0)
            return true;
        const std::uint64_t leads =
            b.mask([](V x) { return P::and_(AtLeast<P>(x, 0x81), Below<P>(x, 0xFF)); });
        const std::uint64_t trails = b.mask([](V x) {
            return P::or_(P::and_(P::gt(x, Byte<P>(0x3F)), P::gt(Byte<P>(0x7F), x)),
                          P::eq(x, Byte<P>(0x80)));
        });
        return (OddRunEnds(leads) & ~trails) == 0;
    }
    // No lead byte is left without its trail at the end.
    bool finished() const { return oddCarry == 0; }

private:
    std::uint64_t OddRunEnds(std::uint64_t runs)
    {
        const std::uint64_t even = 0x5555555555555555ull;
        const std::uint64_t odd = ~even;
        const std::uint64_t starts = runs & ~(runs << 1);
        // A run carried over with odd length so far goes on as if it started at an odd bit.
        const std::uint64_t evenStartMask = even ^ oddCarry;
        const std::uint64_t evenStarts = starts & evenStartMask;
        const std::uint64_t oddStarts = starts & ~evenStartMask;
        const std::uint64_t evenCarries = runs + evenStarts;
        std::uint64_t oddCarries = runs + oddStarts;
        const bool overflow = oddCarries < runs;
        oddCarries |= oddCarry;
        oddCarry = overflow ? 1 : 0;
        const std::uint64_t evenStartOddEnd = evenCarries & ~runs & odd;
        const std::uint64_t oddStartEvenEnd = oddCarries & ~runs & even;
        return evenStartOddEnd | oddStartEvenEnd;
    }

    std::uint64_t oddCarry = 0; // the previous block ended in a lead waiting for its trail
};

// Runs a checker over whole blocks and a zero-padded last one; stops at the first error.
template <class Checker> bool CheckBlocks(const unsigned char *data, size_t size)
{
    Checker checker;
    size_t i = 0;
    for (; i + 64 <= size; i += 64) {
        if (!checker.block(data + i))
            return false;
    }
    unsigned char last[64] = {};
    if (size > i) // an empty input may have no buffer at all
        std::memcpy(last, data + i, size - i);
    return checker.block(last) && checker.finished();
}

// A first-and-last-byte filter: a needle can only start where its first byte is and its
// last byte stands at the right distance; the few such places are compared in full.
template <class P>
const unsigned char *FindNeedle(const unsigned char *haystack, size_t size,
                                const unsigned char *needle, size_t length)
{
    using V = typename P::V;
    const V first = P::set1(static_cast<char>(needle[0]));
    const V last = P::set1(static_cast<char>(needle[length - 1]));
    const size_t middle = length > 2 ? length - 2 : 0;
    size_t i = 0;
    for (; i + length - 1 + P::width <= size; i += P::width) {
        const V starts = P::eq(P::load(haystack + i), first);
        const V ends = P::eq(P::load(haystack + i + length - 1), last);
        for (unsigned bits = P::bits(P::and_(starts, ends)); bits != 0; bits &= bits - 1) {
            const unsigned char *at = haystack + i + __builtin_ctz(bits);
            if (std::memcmp(at + 1, needle + 1, middle) == 0)
                return at;
        }
    }
    for (; i + length <= size; ++i) {
        if (haystack[i] == needle[0] && std::memcmp(haystack + i + 1, needle + 1, length - 1) == 0)
            return haystack + i;
    }
    return nullptr;
}

} // namespace
