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
    // The pairs after pair whose find text shares a unit with text, in order.
    const auto laterSharing = [&](const QString &text, int pair) {
        candidates.clear();
        for (const QChar unit : text) {
            const auto list = holding.find(unit.unicode());
            if (list == holding.end())
                continue;
            for (auto later = std::upper_bound(list->second.begin(), list->second.end(), pair);
                 later != list->second.end(); ++later) {
                if (seen[size_t(*later)] != pair) {
                    seen[size_t(*later)] = pair;
                    candidates.push_back(*later);
                }
            }
        }
        std::sort(candidates.begin(), candidates.end());
    };
    for (int pair = 0; pair < pairs; ++pair) {
        const QString &replacement = replacements[size_t(pair)];
        if (replacement.isEmpty()) {
            conflicts.firstCreated[size_t(pair)] = pair + 1;
            continue;
        }
        laterSharing(replacement, pair);
        for (const int later : candidates) {
            if (CanOverlap(replacement, finds[size_t(later)])) {
                conflicts.firstCreated[size_t(pair)] = later;
                break;
            }
        }
    }
    return conflicts;
}
