#pragma once

#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <qalgorithms.h>
#include <utility>
#include <vector>

// Pairs applied in order, each on the text the ones before it left, in about one pass over a
// text however many pairs there are. One scan finds every find text's occurrences at once.
// Then, pair by pair, each one's matches are picked from its occurrences: left to right,
// none overlapping its previous match or lying across a place an earlier pair replaced, as a
// pass of it over the text the earlier pairs left would find them. That holds for as long as
// no replacement can make a new match of a later pair; the text is rebuilt once when all of
// those pairs are done, or when the next pair is one that a replacement may have made a match
// of: then only the places next to a replacement are scanned again.

// Which later pairs a replacement may make a match of, from the texts alone (as UTF-16
// units; for well-formed texts the same holds of their characters, and so of their bytes in
// UTF-8 and GBK). Pairs are numbered as given, every find text non-empty.
struct PairConflicts
{
    // For each pair, the first later pair whose find text can overlap its replacement (hold
    // it, lie in it, or have an end that is the other's start); the number of pairs when
    // none can. An empty replacement joins the text around it and so may make any later
    // match.
    std::vector<int> firstCreated;
};
PairConflicts FindPairConflicts(const std::vector<QString> &finds,
                                const std::vector<QString> &replacements);

// The pairs in one encoding's units: char for UTF-8 bytes, ushort for UTF-16 or for GBK
// characters taken one unit each (so that every unit starts a character).
template <typename Unit> class OrderedPairs
{
    static constexpr int wordUnits = int(8 / sizeof(Unit));
    static constexpr int bits = 16;

public:
    struct Occurrence
    {
        int at;
        int pair;
    };

    explicit OrderedPairs(std::shared_ptr<const PairConflicts> conflicts)
        : conflicts(std::move(conflicts))
    {}

    // The next pair; its find text is not empty. Call finish() after the last one.
    void add(const Unit *find, int findSize, const Unit *replacement, int replacementSize)
    {
        Q_ASSERT(findSize > 0);
        findAt.push_back(int(findUnits.size()));
        findUnits.insert(findUnits.end(), find, find + findSize);
        findSizes.push_back(findSize);
        replacementAt.push_back(int(replacementUnits.size()));
        replacementUnits.insert(replacementUnits.end(), replacement, replacement + replacementSize);
        replacementSizes.push_back(replacementSize);
        longest = std::max(longest, findSize);
    }

    // Every find text keyed by its first keyLength units, as many as the shortest one has
    // (at most a 64-bit word's): one hash table, one look-up for each place in a text.
    void finish()
    {
        if (!findSizes.empty())
            keyLength = std::min(wordUnits, *std::min_element(findSizes.begin(), findSizes.end()));
        unsigned char mask[8] = {};
        std::memset(mask, 0xFF, size_t(keyLength) * sizeof(Unit));
        std::memcpy(&keyMask, mask, 8);
        bitmap.assign((1u << bits) / 64, 0);
        starts.assign((1u << bits) + 1, 0);
        std::vector<std::uint32_t> keys;
        for (int pair = 0; pair < size(); ++pair) {
            keys.push_back(Key(find(pair), findSizes[size_t(pair)]));
            bitmap[keys.back() >> 6] |= std::uint64_t(1) << (keys.back() & 63);
            ++starts[keys.back() + 1];
        }
        for (size_t key = 0; key < (1u << bits); ++key)
            starts[key + 1] += starts[key];
        keyed.resize(keys.size());
        std::vector<int> filled(starts.begin(), starts.end() - 1);
        for (int pair = 0; pair < size(); ++pair)
            keyed[size_t(filled[keys[size_t(pair)]]++)] = pair;
    }

    int size() const { return int(findSizes.size()); }

    // Appends the occurrences of the find texts of pairs from `from` on that start in
    // [begin, end) of text (they may run on to its end), by where they start.
    void scan(const Unit *text, int size, int begin, int end, int from,
              std::vector<Occurrence> &found) const
    {
        begin = std::max(begin, 0);
        end = std::min(end, size);
        end = std::min(end, size - keyLength + 1);
        const std::uint64_t *const keys = bitmap.data();
        const std::uint64_t mask = keyMask;
        const auto probe = [&](int at) {
            std::uint64_t word;
            std::memcpy(&word, text + at, 8);
            const std::uint32_t key = Hash(word & mask);
            if ((keys[key >> 6] >> (key & 63)) & 1)
                check(key, text, size, at, from, found);
        };
        const int whole = std::min(end, size - wordUnits + 1);
        int at = begin;
        if constexpr (sizeof(Unit) == 1 && Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
            // UTF-8: a well-formed find text starts at no byte 10xxxxxx. Eight bytes at a
            // time, the others are found without a branch on each byte.
            for (; at + 8 <= whole; at += 8) {
                quint64 bytes;
                std::memcpy(&bytes, text + at, 8);
                quint64 heads = ~(bytes & ~(bytes << 1)) & 0x8080808080808080ull;
                for (; heads != 0; heads &= heads - 1)
                    probe(at + int(qCountTrailingZeroBits(heads) >> 3));
            }
        }
        for (; at < whole; ++at)
            probe(at);
        for (; at < end; ++at) {
            const std::uint32_t key = Key(text + at, size - at);
            if ((keys[key >> 6] >> (key & 63)) & 1)
                check(key, text, size, at, from, found);
        }
    }

    // Applies every pair in order to text, adding each pair's replacements to counts[pair].
    // True when anything was replaced; out then holds the new text.
    bool apply(const Unit *text, int size, std::vector<Unit> &out, int *counts) const
    {
        std::vector<Occurrence> occurrences; // of pairs from cursor on, by where they start
        scan(text, size, 0, size, 0, occurrences);
        const int pairs = this->size();
        std::vector<int> first(size_t(pairs) + 1), place;
        std::vector<int> byPair;          // occurrences pair by pair
        std::vector<char> picked;         // the occurrences replaced
        std::vector<unsigned char> taken; // units a replacement took
        std::vector<Occurrence> replaced; // where in the text, then where in the new one
        std::vector<int> replacedAt;      // where in the text
        std::vector<Occurrence> kept, rescanned;
        std::vector<std::pair<int, int>> windows;
        std::vector<Unit> current, next;
        const Unit *data = text;
        int dataSize = size;
        bool changed = false;
        int cursor = 0;
        while (!occurrences.empty()) {
            std::fill(first.begin() + cursor, first.end(), 0);
            for (const Occurrence &each : occurrences)
                ++first[size_t(each.pair) + 1];
            for (int pair = cursor; pair < pairs; ++pair)
                first[size_t(pair) + 1] += first[size_t(pair)];
            place.assign(first.begin(), first.end());
            byPair.resize(occurrences.size());
            for (size_t index = 0; index < occurrences.size(); ++index)
                byPair[size_t(place[size_t(occurrences[index].pair)]++)] = int(index);
            picked.assign(occurrences.size(), 0);
            // Pair by pair, each match left to right that neither overlaps the pair's own
            // previous match nor lies across what an earlier pair replaced: as one pass of
            // each pair over the text the earlier ones left would find them, for as long as
            // no replacement can make a match of a later pair.
            taken.assign(size_t(dataSize), 0);
            int barrier = pairs;
            int pair = cursor;
            qint64 newSize = dataSize;
            for (; pair < std::min(pairs, barrier); ++pair) {
                const int length = findSizes[size_t(pair)];
                int matchEnd = 0;
                int matches = 0;
                for (int index = first[size_t(pair)]; index < first[size_t(pair) + 1]; ++index) {
                    const int at = occurrences[size_t(byPair[size_t(index)])].at;
                    if (at < matchEnd || Taken(taken.data() + at, length))
                        continue;
                    std::memset(taken.data() + at, 1, size_t(length));
                    picked[size_t(byPair[size_t(index)])] = 1;
                    matchEnd = at + length;
                    ++matches;
                }
                counts[pair] += matches;
                newSize += qint64(matches) * (replacementSizes[size_t(pair)] - length);
                if (matches > 0)
                    barrier = std::min(barrier, conflicts->firstCreated[size_t(pair)]);
            }
            // Past what a Qt string holds, as the run reports a text grown too large.
            if (newSize > std::numeric_limits<int>::max())
                throw std::bad_alloc();
            replaced.clear();
            replacedAt.clear();
            for (size_t index = 0; index < occurrences.size(); ++index) {
                if (picked[index])
                    replaced.push_back(occurrences[index]);
            }
            if (replaced.empty())
                break;
            // The new text, and where each replacement now starts.
            next.resize(size_t(newSize));
            Unit *into = next.data();
            int copied = 0;
            for (Occurrence &each : replaced) {
                into = Copy(data + copied, data + each.at, into);
                replacedAt.push_back(each.at);
                copied = each.at + findSizes[size_t(each.pair)];
                each.at = int(into - next.data());
                into = Copy(replacement(each.pair),
                            replacement(each.pair) + replacementSizes[size_t(each.pair)], into);
            }
            std::copy(data + copied, data + dataSize, into);
            current.swap(next);
            changed = true;
            data = current.data();
            dataSize = int(current.size());
            cursor = pair;
            if (cursor >= pairs)
                break;
            // Later pairs' occurrences move with the text; those a replacement took are gone.
            kept.clear();
            size_t before = 0;
            int shift = 0;
            for (const Occurrence &each : occurrences) {
                if (each.pair < pair || Taken(taken.data() + each.at, findSizes[size_t(each.pair)]))
                    continue;
                for (; before < replaced.size() && replacedAt[before] < each.at; ++before)
                    shift += replacementSizes[size_t(replaced[before].pair)] -
                             findSizes[size_t(replaced[before].pair)];
                kept.push_back({each.at + shift, each.pair});
            }
            // A later match that a replacement made starts less than the longest find text
            // before its end; everything that starts there is found again.
            windows.clear();
            for (const Occurrence &each : replaced) {
                const int from = std::max(0, each.at - (longest - 1));
                const int to = std::min(dataSize, each.at + replacementSizes[size_t(each.pair)]);
                if (!windows.empty() && from <= windows.back().second)
                    windows.back().second = std::max(windows.back().second, to);
                else if (from < to)
                    windows.emplace_back(from, to);
            }
            rescanned.clear();
            for (const auto &[from, to] : windows)
                scan(data, dataSize, from, to, cursor, rescanned);
            occurrences.clear();
            size_t window = 0;
            size_t found = 0;
            for (const Occurrence &each : kept) {
                while (window < windows.size() && windows[window].second <= each.at)
                    ++window;
                if (window < windows.size() && windows[window].first <= each.at)
                    continue;
                while (found < rescanned.size() && rescanned[found].at < each.at)
                    occurrences.push_back(rescanned[found++]);
                occurrences.push_back(each);
            }
            occurrences.insert(occurrences.end(), rescanned.begin() + std::ptrdiff_t(found),
                               rescanned.end());
        }
        if (!changed)
            return false;
        out = std::move(current);
        return true;
    }

private:
    const Unit *find(int pair) const { return findUnits.data() + findAt[size_t(pair)]; }
    const Unit *replacement(int pair) const
    {
        return replacementUnits.data() + replacementAt[size_t(pair)];
    }
    // The first keyLength units of a text of available units, hashed.
    std::uint32_t Key(const Unit *units, int available) const
    {
        std::uint64_t word = 0;
        if (available >= wordUnits)
            std::memcpy(&word, units, 8);
        else
            std::memcpy(&word, units, size_t(available) * sizeof(Unit));
        return Hash(word & keyMask);
    }
    static std::uint32_t Hash(std::uint64_t key)
    {
        return std::uint32_t((key * 0x9E3779B97F4A7C15ull) >> (64 - bits));
    }
    // Most pieces between replacements are short, shorter than a call to memmove is worth.
    static Unit *Copy(const Unit *from, const Unit *to, Unit *into)
    {
        if (to - from > 16)
            return std::copy(from, to, into);
        while (from < to)
            *into++ = *from++;
        return into;
    }
    static bool Taken(const unsigned char *units, int length)
    {
        for (int i = 0; i < length; ++i) {
            if (units[i])
                return true;
        }
        return false;
    }
    void check(std::uint32_t key, const Unit *text, int size, int at, int from,
               std::vector<Occurrence> &found) const
    {
        const int *const end = keyed.data() + starts[key + 1];
        for (const int *pair = keyed.data() + starts[key]; pair < end; ++pair) {
            const int length = findSizes[size_t(*pair)];
            if (*pair < from || length > size - at)
                continue;
            const Unit *const a = text + at;
            const Unit *const b = find(*pair);
            int same = 0;
            while (same < length && a[same] == b[same])
                ++same;
            if (same == length)
                found.push_back({at, *pair});
        }
    }

    std::shared_ptr<const PairConflicts> conflicts;
    std::vector<Unit> findUnits, replacementUnits;
    std::vector<int> findAt, findSizes, replacementAt, replacementSizes;
    int longest = 0;
    int keyLength = 1;
    std::uint64_t keyMask = 0;
    std::vector<std::uint64_t> bitmap; // the keys of some find text
    std::vector<int> starts;           // each key's pairs, at keyed[starts[key]] on
    std::vector<int> keyed;
};

// Pairs from this many on are matched with OrderedPairs; fewer are searched one by one.
constexpr int matchedPairsFrom = 8;
