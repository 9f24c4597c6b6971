#pragma once

#include <QString>
#include <QtGlobal>
#include <vector>

// Many texts matched at once (Aho-Corasick over UTF-16 units): one pass over a text names
// every one of them it holds, however many there are. The nodes are the texts' prefixes, the
// root (0) the empty one.
class TextSet
{
public:
    TextSet() : nodes(1), keys(1024, 0), children(1024, -1) {}

    // Adds a non-empty text; its number, the same for a text given twice.
    int add(const QString &text);
    // Links each node to its longest proper suffix that is a node. Call after the last add.
    void finish();

    // Calls found(text number) for every text of the set in text, as often as it occurs.
    template <typename Found> void scan(const QString &text, Found found) const
    {
        int node = 0;
        for (const QChar unit : text) {
            node = next(node, unit.unicode());
            for (int at = nodes[size_t(node)].text >= 0 ? node : nodes[size_t(node)].output; at > 0;
                 at = nodes[size_t(at)].output)
                found(nodes[size_t(at)].text);
        }
    }
    // The node of the longest suffix of text that begins a text of the set (0 when none).
    int lastNode(const QString &text) const;
    // The node of the next shorter suffix that begins a text of the set; 0 at the end.
    int shorter(int node) const { return nodes[size_t(node)].suffix; }
    // How many nodes there are, for tables indexed by node.
    int nodeCount() const { return int(nodes.size()); }
    // The node where the numbered text ends, and a node's parent (a unit shorter).
    int endOf(int text) const { return ends[size_t(text)]; }
    int parent(int node) const { return nodes[size_t(node)].parent; }

private:
    struct Node
    {
        int parent = 0;
        ushort unit = 0;
        int depth = 0;
        int text = -1;   // the text that ends here
        int suffix = 0;  // the longest proper suffix that is a node
        int output = -1; // the nearest suffix node where a text ends; -1 or 0 when none
    };
    // The child of node by unit, or -1: an open-addressed table, as a look-up per unit of
    // every text scanned is most of the work.
    static quint64 Key(int node, ushort unit) { return (quint64(node) << 16 | unit) + 1; }
    size_t slotOf(quint64 key) const
    {
        size_t slot = size_t((key * 0x9E3779B97F4A7C15ull) >> 20) & (keys.size() - 1);
        while (keys[slot] != 0 && keys[slot] != key)
            slot = (slot + 1) & (keys.size() - 1);
        return slot;
    }
    int step(int node, ushort unit) const
    {
        const size_t slot = slotOf(Key(node, unit));
        return keys[slot] == 0 ? -1 : children[slot];
    }
    void link(int node, ushort unit, int child);
    int next(int node, ushort unit) const;

    std::vector<Node> nodes;   // the root first
    std::vector<quint64> keys; // 0 for a free slot
    std::vector<int> children;
    std::vector<int> ends; // by text number
    int texts = 0;
};
