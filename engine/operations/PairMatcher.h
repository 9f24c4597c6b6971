#pragma once

#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

// Pairs applied in order, each on the text the ones before it left, in about one pass over a
// text however many pairs there are. One scan finds every find text's occurrences at once;
// then the pairs that occur are applied in merged passes: one pass replaces, left to right,
// a whole run of consecutive pairs none of which can change what a later one of the run
// matches. Such pairs' occurrences never overlap one another, and no replacement can make or
// break a match of a later one, so replacing all of them at once gives what replacing them one
// by one gives. Between runs only the places next to a replacement are scanned again.

// Which later pairs each pair may interact with, from the texts alone (as UTF-16 units; for
// well-formed texts the same holds of their characters, and so of their bytes, in UTF-8 and
// GBK). Pairs are numbered as given, every find text non-empty.
struct PairConflicts
{
    // The later pairs whose find text can overlap this pair's: one holds the other, or an
    // end of one is the start of the other. Their occurrences may overlap in a text.
    std::vector<std::vector<int>> findOverlaps;
    // The first later pair whose find text can overlap this pair's replacement, so that
    // replacing may create a match of it; the number of pairs when none can. An empty
    // replacement joins the text around it and so may create any later match.
    std::vector<int> firstCreated;
};
PairConflicts FindPairConflicts(const std::vector<QString> &finds,
                                const std::vector<QString> &replacements);

// The pairs in one encoding's units: char for UTF-8 bytes, ushort for UTF-16 or for GBK
// characters taken one unit each (so that every unit starts a character).
template <typename Unit> class OrderedPairs
{
    static constexpr int keyUnits = int(4 / sizeof(Unit));
    static constexpr int bits = 16;

public:
    struct Occurrence
    {
        int at;
        int pair;
    };

    // utf8Starts: the units are UTF-8 bytes, where a well-formed find text can only match at
    // a character's first byte, so no other byte is tried.
    OrderedPairs(std::shared_ptr<const PairConflicts> conflicts, bool utf8Starts)
        : conflicts(std::move(conflicts)), utf8Starts(utf8Starts)
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

    // Every find text keyed by its first units: the first keyUnits of it, or all of a
    // shorter one, in one hash table for each such length.
    void finish()
    {
        for (int length = 1; length <= keyUnits; ++length) {
            Table &table = tables[length - 1];
            std::vector<int> keys;
            for (int pair = 0; pair < size(); ++pair) {
                if (std::min(findSizes[size_t(pair)], keyUnits) == length)
                    keys.push_back(int(Key(length, find(pair))));
            }
            if (keys.empty())
                continue;
            table.used = true;
            table.bitmap.assign((1u << bits) / 64, 0);
            table.starts.assign((1u << bits) + 1, 0);
            for (const int key : keys) {
                table.bitmap[size_t(key) >> 6] |= std::uint64_t(1) << (key & 63);
                ++table.starts[size_t(key) + 1];
            }
            for (size_t key = 0; key < (1u << bits); ++key)
                table.starts[key + 1] += table.starts[key];
            table.pairs.resize(keys.size());
            std::vector<int> filled(table.starts.begin(), table.starts.end() - 1);
            int next = 0;
            for (int pair = 0; pair < size(); ++pair) {
                if (std::min(findSizes[size_t(pair)], keyUnits) == length)
                    table.pairs[size_t(filled[size_t(keys[size_t(next++)])]++)] = pair;
            }
            usedTables.push_back(length);
        }
    }

    int size() const { return int(findSizes.size()); }

    // Appends the occurrences of the find texts of pairs from `from` on that start in
    // [begin, end) of text (they may run on to its end), by where they start.
    void scan(const Unit *text, int size, int begin, int end, int from,
              std::vector<Occurrence> &found) const
    {
        begin = std::max(begin, 0);
        end = std::min(end, size);
        if (utf8Starts)
            begin = Utf8Start(text, begin);
        const Table &full = tables[keyUnits - 1];
        const bool anyShort = usedTables.size() > (full.used ? 1u : 0u);
        for (int at = begin; at < end;) {
            if (full.used && at + keyUnits <= size) {
                std::uint32_t word;
                std::memcpy(&word, text + at, 4);
                const std::uint32_t key = (word * 2654435761u) >> (32 - bits);
                if ((full.bitmap[key >> 6] >> (key & 63)) & 1)
                    check(full, key, text, size, at, from, found);
            }
            if (anyShort) {
                for (const int length : usedTables) {
                    if (length == keyUnits || at + length > size)
                        continue;
                    const Table &table = tables[length - 1];
                    const std::uint32_t key = Key(length, text + at);
                    if ((table.bitmap[key >> 6] >> (key & 63)) & 1)
                        check(table, key, text, size, at, from, found);
                }
            }
            at += utf8Starts ? Utf8Step(text[at]) : 1;
        }
    }

    // Applies every pair in order to text, adding each pair's replacements to counts[pair].
    // True when anything was replaced; out then holds the new text.
    bool apply(const Unit *text, int size, std::vector<Unit> &out, int *counts) const
    {
        std::vector<Occurrence> occurrences;
        scan(text, size, 0, size, 0, occurrences);
        if (occurrences.empty())
            return false;
        const int pairs = this->size();
        std::vector<int> live(size_t(pairs), 0); // occurrences in the current text
        for (const Occurrence &each : occurrences)
            ++live[size_t(each.pair)];
        std::vector<int> member(size_t(pairs), 0);  // the run a pair is in
        std::vector<int> blocked(size_t(pairs), 0); // the run a pair cannot join
        std::vector<int> matchEnd(size_t(pairs), 0);
        std::vector<int> runPairs;
        std::vector<Occurrence> replaced, kept, rescanned;
        std::vector<std::pair<int, int>> windows;
        std::vector<Unit> current, next;
        const Unit *data = text;
        int dataSize = size;
        bool changed = false;
        int cursor = 0;
        for (int run = 1; cursor < pairs; ++run) {
            // The longest run of the pairs that occur, up to one that may interact.
            runPairs.clear();
            int barrier = pairs;
            for (int pair = cursor; pair < std::min(pairs, barrier); ++pair) {
                if (live[size_t(pair)] == 0)
                    continue;
                if (blocked[size_t(pair)] == run)
                    break;
                runPairs.push_back(pair);
                member[size_t(pair)] = run;
                matchEnd[size_t(pair)] = 0;
                for (const int later : conflicts->findOverlaps[size_t(pair)])
                    blocked[size_t(later)] = run;
                barrier = std::min(barrier, conflicts->firstCreated[size_t(pair)]);
            }
            if (runPairs.empty())
                break;
            // Each pair's matches left to right without overlap, as one pass of it would.
            replaced.clear();
            kept.clear();
            for (const Occurrence &each : occurrences) {
                const size_t pair = size_t(each.pair);
                if (member[pair] != run) {
                    kept.push_back(each);
                } else if (each.at >= matchEnd[pair]) {
                    replaced.push_back(each);
                    matchEnd[pair] = each.at + findSizes[pair];
                    ++counts[pair];
                }
            }
            for (const int pair : runPairs)
                live[size_t(pair)] = 0;
            // The new text, and where each replacement now starts.
            next.clear();
            next.reserve(size_t(dataSize) + size_t(dataSize) / 8 + 64);
            int copied = 0;
            for (Occurrence &each : replaced) {
                next.insert(next.end(), data + copied, data + each.at);
                copied = each.at + findSizes[size_t(each.pair)];
                each.at = int(next.size());
                next.insert(next.end(), replacement(each.pair),
                            replacement(each.pair) + replacementSizes[size_t(each.pair)]);
            }
            next.insert(next.end(), data + copied, data + dataSize);
            // Later pairs' occurrences move with the text; those a replacement took are gone.
            size_t at = 0;
            int shift = 0;
            int write = 0;
            for (const Occurrence &each : kept) {
                while (at < replaced.size() &&
                       replaced[at].at - shift + findSizes[size_t(replaced[at].pair)] <= each.at) {
                    shift += replacementSizes[size_t(replaced[at].pair)] -
                             findSizes[size_t(replaced[at].pair)];
                    ++at;
                }
                if (at < replaced.size() &&
                    replaced[at].at - shift < each.at + findSizes[size_t(each.pair)]) {
                    --live[size_t(each.pair)];
                    continue;
                }
                kept[size_t(write++)] = {each.at + shift, each.pair};
            }
            kept.resize(size_t(write));
            current.swap(next);
            changed = true;
            data = current.data();
            dataSize = int(current.size());
            cursor = runPairs.back() + 1;
            if (cursor >= pairs)
                break;
            // A later match that a replacement made starts less than the longest find text
            // before its end; everything that starts there is found again.
            windows.clear();
            for (const Occurrence &each : replaced) {
                int from = std::max(0, each.at - (longest - 1));
                if (utf8Starts)
                    from = Utf8Start(data, from);
                const int to = std::min(dataSize, each.at + replacementSizes[size_t(each.pair)]);
                if (!windows.empty() && from <= windows.back().second)
                    windows.back().second = std::max(windows.back().second, to);
                else if (from < to)
                    windows.emplace_back(from, to);
            }
            rescanned.clear();
            for (const auto &[from, to] : windows)
                scan(data, dataSize, from, to, cursor, rescanned);
            for (const Occurrence &each : rescanned)
                ++live[size_t(each.pair)];
            occurrences.clear();
            size_t window = 0;
            size_t found = 0;
            for (const Occurrence &each : kept) {
                while (window < windows.size() && windows[window].second <= each.at)
                    ++window;
                if (window < windows.size() && windows[window].first <= each.at) {
                    --live[size_t(each.pair)];
                    continue;
                }
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
    struct Table
    {
        bool used = false;
        std::vector<std::uint64_t> bitmap;
        std::vector<int> starts; // each key's pairs, at starts[key] to starts[key + 1]
        std::vector<int> pairs;
    };

    const Unit *find(int pair) const { return findUnits.data() + findAt[size_t(pair)]; }
    const Unit *replacement(int pair) const
    {
        return replacementUnits.data() + replacementAt[size_t(pair)];
    }
    static std::uint32_t Code(Unit unit)
    {
        return std::uint32_t(typename std::make_unsigned<Unit>::type(unit));
    }
    // The first `length` units; all of keyUnits hashed as scan() hashes them.
    static std::uint32_t Key(int length, const Unit *units)
    {
        if (length == keyUnits) {
            std::uint32_t word;
            std::memcpy(&word, units, 4);
            return (word * 2654435761u) >> (32 - bits);
        }
        std::uint32_t word = 0;
        for (int i = 0; i < length; ++i)
            word = word << (8 * sizeof(Unit)) | Code(units[i]);
        return ((word + 1) * 2654435761u) >> (32 - bits);
    }
    static int Utf8Step(Unit lead)
    {
        static const unsigned char steps[16] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 3, 4};
        return steps[Code(lead) >> 4];
    }
    static int Utf8Start(const Unit *text, int at)
    {
        while (at > 0 && (Code(text[at]) & 0xC0) == 0x80)
            --at;
        return at;
    }
    void check(const Table &table, std::uint32_t key, const Unit *text, int size, int at, int from,
               std::vector<Occurrence> &found) const
    {
        const int *const end = table.pairs.data() + table.starts[key + 1];
        for (const int *pair = table.pairs.data() + table.starts[key]; pair < end; ++pair) {
            const int length = findSizes[size_t(*pair)];
            if (*pair >= from && length <= size - at &&
                std::memcmp(text + at, find(*pair), size_t(length) * sizeof(Unit)) == 0)
                found.push_back({at, *pair});
        }
    }

    std::shared_ptr<const PairConflicts> conflicts;
    bool utf8Starts;
    std::vector<Unit> findUnits, replacementUnits;
    std::vector<int> findAt, findSizes, replacementAt, replacementSizes;
    int longest = 0;
    Table tables[keyUnits];
    std::vector<int> usedTables; // the lengths keyed, shortest first
};

// Pairs from this many on are matched with OrderedPairs; fewer are searched one by one.
constexpr int matchedPairsFrom = 8;
