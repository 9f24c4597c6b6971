#include "engine/operations/TextSet.h"

#include <algorithm>

int TextSet::add(const QString &text)
{
    int node = 0;
    for (const QChar unit : text) {
        const int known = step(node, unit.unicode());
        if (known >= 0) {
            node = known;
            continue;
        }
        Node child;
        child.parent = node;
        child.unit = unit.unicode();
        child.depth = nodes[size_t(node)].depth + 1;
        nodes.push_back(child);
        const int made = int(nodes.size()) - 1;
        link(node, unit.unicode(), made);
        node = made;
    }
    Node &end = nodes[size_t(node)];
    if (end.text < 0) {
        end.text = texts++;
        ends.push_back(node);
    }
    return end.text;
}

void TextSet::link(int node, ushort unit, int child)
{
    // At most half full, so that a look-up meets a free slot soon.
    if ((nodes.size() + 1) * 2 > keys.size()) {
        std::vector<quint64> oldKeys(keys.size() * 2, 0);
        std::vector<int> oldChildren(keys.size() * 2, -1);
        oldKeys.swap(keys);
        oldChildren.swap(children);
        for (size_t i = 0; i < oldKeys.size(); ++i) {
            if (oldKeys[i] != 0) {
                const size_t slot = slotOf(oldKeys[i]);
                keys[slot] = oldKeys[i];
                children[slot] = oldChildren[i];
            }
        }
    }
    const size_t slot = slotOf(Key(node, unit));
    keys[slot] = Key(node, unit);
    children[slot] = child;
}

void TextSet::finish()
{
    // Shallower nodes first: a node's suffix is found from its parent's.
    std::vector<int> order(nodes.size() - 1);
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = int(i) + 1;
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        return nodes[size_t(a)].depth < nodes[size_t(b)].depth;
    });
    for (const int node : order) {
        Node &linked = nodes[size_t(node)];
        if (linked.parent != 0) {
            int suffix = nodes[size_t(linked.parent)].suffix;
            int target = step(suffix, linked.unit);
            while (target < 0 && suffix != 0) {
                suffix = nodes[size_t(suffix)].suffix;
                target = step(suffix, linked.unit);
            }
            linked.suffix = target < 0 ? 0 : target;
        }
        const Node &to = nodes[size_t(linked.suffix)];
        linked.output = to.text >= 0 ? linked.suffix : to.output;
    }
}

int TextSet::next(int node, ushort unit) const
{
    int target = step(node, unit);
    while (target < 0 && node != 0) {
        node = nodes[size_t(node)].suffix;
        target = step(node, unit);
    }
    return target < 0 ? 0 : target;
}

int TextSet::lastNode(const QString &text) const
{
    int node = 0;
    for (const QChar unit : text)
        node = next(node, unit.unicode());
    return node;
}
