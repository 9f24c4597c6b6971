#include "engine/operations/PairMatcher.h"

#include "engine/operations/TextSet.h"

#include <algorithm>

namespace {

// For each text of a set, and for each node (a prefix of texts), the pairs whose text it is or
// begins, in the pairs' order.
struct PairsOfTexts
{
    TextSet set;
    std::vector<std::vector<int>> ofText;
    std::vector<std::vector<int>> throughNode;

    void build(const std::vector<QString> &texts)
    {
        for (int pair = 0; pair < int(texts.size()); ++pair) {
            if (texts[size_t(pair)].isEmpty())
                continue;
            const int text = set.add(texts[size_t(pair)]);
            if (size_t(text) == ofText.size())
                ofText.emplace_back();
            ofText[size_t(text)].push_back(pair);
        }
        set.finish();
        throughNode.resize(size_t(set.nodeCount()));
        for (int text = 0; text < int(ofText.size()); ++text) {
            for (int node = set.endOf(text); node != 0; node = set.parent(node)) {
                std::vector<int> &through = throughNode[size_t(node)];
                through.insert(through.end(), ofText[size_t(text)].begin(),
                               ofText[size_t(text)].end());
            }
        }
        // In the pairs' order, as the look-ups take them.
        for (std::vector<int> &through : throughNode)
            std::sort(through.begin(), through.end());
    }
};

} // namespace

PairConflicts FindPairConflicts(const std::vector<QString> &finds,
                                const std::vector<QString> &replacements)
{
    // Find text F of a later pair can overlap replacement R where it starts inside R (it lies
    // in R, or R's end begins it) or before it (it holds R, or its end begins R). The first
    // two come from the find texts' set run over each R, the last two from the
    // replacements' set run over each F; no pair of texts is compared one with the other.
    const int pairs = int(finds.size());
    PairConflicts conflicts;
    conflicts.firstCreated.assign(size_t(pairs), pairs);
    std::vector<int> &first = conflicts.firstCreated;
    const auto laterIn = [](const std::vector<int> &list, int pair, int &found) {
        const auto later = std::upper_bound(list.begin(), list.end(), pair);
        if (later != list.end())
            found = std::min(found, *later);
    };
    PairsOfTexts findTexts;
    findTexts.build(finds);
    for (int pair = 0; pair < pairs; ++pair) {
        const QString &replacement = replacements[size_t(pair)];
        // An empty replacement joins the text around it and so may make any later match.
        if (replacement.isEmpty()) {
            first[size_t(pair)] = std::min(pair + 1, pairs);
            continue;
        }
        int &found = first[size_t(pair)];
        findTexts.set.scan(replacement,
                           [&](int text) { laterIn(findTexts.ofText[size_t(text)], pair, found); });
        for (int node = findTexts.set.lastNode(replacement); node != 0;
             node = findTexts.set.shorter(node))
            laterIn(findTexts.throughNode[size_t(node)], pair, found);
    }
    // Pairs are taken in order, so the first later pair to reach an earlier one is the one
    // it keeps; each list is gone through once, from where the last pair left it.
    PairsOfTexts replacementTexts;
    replacementTexts.build(replacements);
    std::vector<size_t> textDone(replacementTexts.ofText.size(), 0);
    std::vector<size_t> nodeDone(replacementTexts.throughNode.size(), 0);
    const auto reach = [&](const std::vector<int> &list, size_t &done, int later) {
        for (; done < list.size() && list[done] < later; ++done)
            first[size_t(list[done])] = std::min(first[size_t(list[done])], later);
    };
    for (int later = 0; later < pairs; ++later) {
        const QString &find = finds[size_t(later)];
        replacementTexts.set.scan(find, [&](int text) {
            reach(replacementTexts.ofText[size_t(text)], textDone[size_t(text)], later);
        });
        for (int node = replacementTexts.set.lastNode(find); node != 0;
             node = replacementTexts.set.shorter(node))
            reach(replacementTexts.throughNode[size_t(node)], nodeDone[size_t(node)], later);
    }
    return conflicts;
}
