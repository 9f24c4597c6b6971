#include "engine/operations/PairMatcher.h"

#include <unordered_map>

namespace {

// True when b can lie against a so that they share at least one unit and agree there: one
// holds the other, or an end of one is the start of the other.
bool CanOverlap(const QString &a, const QString &b)
{
    const QChar *const x = a.constData();
    const QChar *const y = b.constData();
    const int sizeA = a.size();
    const int sizeB = b.size();
    for (int shift = 1 - sizeB; shift < sizeA; ++shift) {
        const int from = std::max(0, shift);
        const int to = std::min(sizeA, shift + sizeB);
        if (std::memcmp(x + from, y + from - shift, size_t(to - from) * sizeof(QChar)) == 0)
            return true;
    }
    return false;
}

} // namespace

PairConflicts FindPairConflicts(const std::vector<QString> &finds,
                                const std::vector<QString> &replacements)
{
    const int pairs = int(finds.size());
    PairConflicts conflicts;
    conflicts.findOverlaps.resize(size_t(pairs));
    conflicts.firstCreated.assign(size_t(pairs), pairs);
    // Two texts can overlap only where they share a unit: the pairs whose find text holds
    // each unit, in order, each once.
    std::unordered_map<ushort, std::vector<int>> holding;
    for (int pair = 0; pair < pairs; ++pair) {
        for (const QChar unit : finds[size_t(pair)]) {
            std::vector<int> &list = holding[unit.unicode()];
            if (list.empty() || list.back() != pair)
                list.push_back(pair);
        }
    }
    std::vector<int> seen(size_t(pairs), -1);
    std::vector<int> candidates;
    // The later pairs whose find text shares a unit with text (marked with stamp).
    const auto laterSharing = [&](const QString &text, int pair, int stamp) {
        candidates.clear();
        for (const QChar unit : text) {
            const auto list = holding.find(unit.unicode());
            if (list == holding.end())
                continue;
            for (auto later = std::upper_bound(list->second.begin(), list->second.end(), pair);
                 later != list->second.end(); ++later) {
                if (seen[size_t(*later)] != stamp) {
                    seen[size_t(*later)] = stamp;
                    candidates.push_back(*later);
                }
            }
        }
        std::sort(candidates.begin(), candidates.end());
    };
    for (int pair = 0; pair < pairs; ++pair) {
        const QString &find = finds[size_t(pair)];
        const QString &replacement = replacements[size_t(pair)];
        laterSharing(find, pair, 2 * pair);
        for (const int later : candidates) {
            if (CanOverlap(find, finds[size_t(later)]))
                conflicts.findOverlaps[size_t(pair)].push_back(later);
        }
        if (replacement.isEmpty()) {
            conflicts.firstCreated[size_t(pair)] = pair + 1;
            continue;
        }
        laterSharing(replacement, pair, 2 * pair + 1);
        for (const int later : candidates) {
            if (CanOverlap(replacement, finds[size_t(later)])) {
                conflicts.firstCreated[size_t(pair)] = later;
                break;
            }
        }
    }
    return conflicts;
}
