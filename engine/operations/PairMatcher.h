#pragma once

#include <QtGlobal>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

// Which of many find texts occur in a text, in one pass over it, for pairs applied in order: a
// pair whose find text occurs neither in the text as read nor near a place an earlier pair
// replaced cannot match, and is skipped without a search of its own. Without this a table of
// a thousand rules searches every file a thousand times.
// Unit is char for encoded bytes and ushort for a QString's UTF-16; every text is keyed by its
// first four bytes (one hash table), shorter ones by their first unit.
template <typename Unit> class PairMatcher
{
    static constexpr int keyUnits = int(4 / sizeof(Unit));
    static constexpr int bits = 16;

public:
    PairMatcher() : longBits(1u << (bits - 6), 0), shortBits(1u << (bits - 6), 0) {}

    // The next find text; an empty one is never found.
    void add(const Unit *units, int size)
    {
        const int index = int(patterns.size());
        patterns.emplace_back(units, units + size);
        if (size == 0)
            return;
        if (size >= keyUnits) {
            const std::uint32_t key = Hash(units);
            set(longBits, key);
            longBuckets.resize(1u << bits);
            longBuckets[key].push_back(index);
        } else {
            const std::uint32_t key = std::uint32_t(Code(units[0])) & ((1u << bits) - 1);
            set(shortBits, key);
            shortBuckets.resize(1u << bits);
            shortBuckets[key].push_back(index);
        }
    }

    int size() const { return int(patterns.size()); }
    int length(int index) const { return int(patterns[size_t(index)].size()); }

    // Marks in found each text from index `from` on that occurs in text at a start in
    // [begin, end) (it may run on to the text's end). With utf8Starts only bytes that start a
    // UTF-8 character are tried: a well-formed find text matches nowhere else.
    void scan(const Unit *text, qint64 size, qint64 begin, qint64 end, std::vector<char> &found,
              int from, bool utf8Starts = false) const
    {
        begin = std::max<qint64>(begin, 0);
        end = std::min(end, size);
        const bool anyLong = !longBuckets.empty();
        const bool anyShort = !shortBuckets.empty();
        const std::uint64_t *const longMap = longBits.data();
        const std::uint64_t *const shortMap = shortBits.data();
        if (utf8Starts) {
            // Back to a character's start, then from start to start.
            while (begin > 0 && (Code(text[begin]) & 0xC0) == 0x80)
                --begin;
        }
        for (qint64 at = begin; at < end;) {
            if (anyLong && at + keyUnits <= size) {
                const std::uint32_t key = Hash(text + at);
                if (Test(longMap, key))
                    check(longBuckets[key], text, size, at, found, from);
            }
            if (anyShort) {
                const std::uint32_t key = std::uint32_t(Code(text[at])) & ((1u << bits) - 1);
                if (Test(shortMap, key))
                    check(shortBuckets[key], text, size, at, found, from);
            }
            at += utf8Starts ? Utf8Length(Code(text[at])) : 1;
        }
    }

private:
    static std::uint32_t Code(Unit unit)
    {
        return std::uint32_t(typename std::make_unsigned<Unit>::type(unit));
    }
    static std::uint32_t Hash(const Unit *units)
    {
        std::uint32_t word;
        std::memcpy(&word, units, 4);
        return (word * 2654435761u) >> (32 - bits);
    }
    static void set(std::vector<std::uint64_t> &bitmap, std::uint32_t key)
    {
        bitmap[key >> 6] |= std::uint64_t(1) << (key & 63);
    }
    static bool Test(const std::uint64_t *bitmap, std::uint32_t key)
    {
        return (bitmap[key >> 6] >> (key & 63)) & 1;
    }
    // The bytes of the UTF-8 character that starts with lead; 1 for a byte that starts none.
    static int Utf8Length(std::uint32_t lead)
    {
        return lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    }
    void check(const std::vector<int> &bucket, const Unit *text, qint64 size, qint64 at,
               std::vector<char> &found, int from) const
    {
        for (const int index : bucket) {
            if (index < from || found[size_t(index)])
                continue;
            const auto &pattern = patterns[size_t(index)];
            if (qint64(pattern.size()) <= size - at &&
                std::memcmp(text + at, pattern.data(), pattern.size() * sizeof(Unit)) == 0)
                found[size_t(index)] = 1;
        }
    }

    std::vector<std::vector<Unit>> patterns;
    std::vector<std::uint64_t> longBits;
    std::vector<std::uint64_t> shortBits;
    std::vector<std::vector<int>> longBuckets;
    std::vector<std::vector<int>> shortBuckets;
};

// Pairs from this many on are matched with a PairMatcher; fewer are searched one by one.
constexpr int matchedPairsFrom = 8;
