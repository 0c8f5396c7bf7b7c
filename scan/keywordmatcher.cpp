#include "scan/keywordmatcher.h"

#include <algorithm>

namespace Scan {

void KeywordMatcher::build(const QStringList &entries)
{
    m_nodes.clear();
    m_edges.clear();
    m_dense.clear();
    m_emptyEntry = NoMatch;
    m_entryCount = int(entries.size());

    // The trie from the entries in code unit order: each entry shares the
    // path of its common prefix with the one before, and every node gets its
    // children in ascending order, so a long list costs a sort and one pass
    // rather than a search among siblings for every character.
    struct Keyed
    {
        QStringView entry;
        int index;
    };
    std::vector<Keyed> sorted;
    sorted.reserve(size_t(m_entryCount));
    size_t units = 0;
    m_longest = 0;
    for (int index = 0; index < m_entryCount; ++index) {
        const QString &entry = entries.at(index);
        m_longest = std::max(m_longest, entry.size());
        if (entry.isEmpty()) {
            m_emptyEntry = std::min(m_emptyEntry, index);
            continue;
        }
        sorted.push_back({entry, index});
        units += size_t(entry.size());
    }
    std::sort(sorted.begin(), sorted.end(), [](const Keyed &a, const Keyed &b) {
        const auto [i, j] = std::mismatch(a.entry.begin(), a.entry.end(), b.entry.begin(), b.entry.end());
        if (i != a.entry.end() && j != b.entry.end())
            return i->unicode() < j->unicode();
        return a.entry.size() != b.entry.size() ? a.entry.size() < b.entry.size() : a.index < b.index;
    });

    std::vector<int> parent;
    std::vector<char16_t> unitOf;
    std::vector<int> own;
    parent.reserve(units + 1);
    unitOf.reserve(units + 1);
    own.reserve(units + 1);
    parent.push_back(-1);
    unitOf.push_back(0);
    own.push_back(NoMatch);
    std::vector<int> path(1, 0); // the nodes of the entry before, by depth
    QStringView previous;
    for (const Keyed &k : sorted) {
        const QStringView entry = k.entry;
        const qsizetype shorter = std::min(entry.size(), previous.size());
        qsizetype common = 0;
        while (common < shorter && entry[common] == previous[common])
            ++common;
        path.resize(size_t(common) + 1);
        int node = path.back();
        for (qsizetype i = common; i < entry.size(); ++i) {
            const int created = int(parent.size());
            parent.push_back(node);
            unitOf.push_back(entry[i].unicode());
            own.push_back(NoMatch);
            path.push_back(created);
            node = created;
        }
        own[size_t(node)] = std::min(own[size_t(node)], k.index);
        previous = entry;
    }

    // Children were made in ascending order, so grouping them by parent in
    // order of creation keeps each node's edges sorted.
    const int nodeCount = int(parent.size());
    m_nodes.resize(nodeCount);
    m_edges.resize(nodeCount - 1);
    Node *nodes = m_nodes.data();
    Edge *edges = m_edges.data();
    for (int node = 1; node < nodeCount; ++node)
        ++nodes[parent[size_t(node)]].edgeCount;
    for (int node = 0, next = 0; node < nodeCount; ++node) {
        nodes[node].firstEdge = next;
        next += nodes[node].edgeCount;
        nodes[node].edgeCount = 0;
    }
    for (int node = 1; node < nodeCount; ++node) {
        Node &p = nodes[parent[size_t(node)]];
        edges[p.firstEdge + p.edgeCount++] = {unitOf[size_t(node)], node};
    }

    // Breadth first: a node's fail target is shallower, so it is done first.
    m_rootNext.fill(0, 0x10000);
    int *rootNext = m_rootNext.data();
    for (int e = 0; e < nodes[0].edgeCount; ++e)
        rootNext[edges[e].unit] = edges[e].target;
    nodes[0].lowest = NoMatch;
    std::vector<int> order;
    order.reserve(size_t(nodeCount));
    order.push_back(0);
    for (size_t i = 0; i < order.size(); ++i) {
        const int node = order[i];
        const Node n = nodes[node];
        for (int e = n.firstEdge; e < n.firstEdge + n.edgeCount; ++e) {
            const Edge edge = edges[e];
            order.push_back(edge.target);
            int fail = 0;
            if (node != 0) {
                for (int f = n.fail;;) {
                    const int next = f == 0 ? rootNext[edge.unit] : child(f, edge.unit);
                    if (next > 0) {
                        fail = next;
                        break;
                    }
                    if (f == 0)
                        break;
                    f = nodes[f].fail;
                }
            }
            nodes[edge.target].fail = fail;
            nodes[edge.target].lowest = std::min(own[size_t(edge.target)], nodes[fail].lowest);
        }
    }
    if (m_nodes.size() <= DenseNodeLimit)
        buildDense(order);
}

void KeywordMatcher::buildDense(const std::vector<int> &order)
{
    m_dense.resize(m_nodes.size() * DenseUnits);
    int *dense = m_dense.data();
    // Breadth first again: a node's fail target has its row already.
    for (const int node : order) {
        int *row = dense + qsizetype(node) * DenseUnits;
        const int *failRow = dense + qsizetype(m_nodes[node].fail) * DenseUnits;
        for (int unit = 0; unit < DenseUnits; ++unit) {
            if (node == 0) {
                row[unit] = m_rootNext[unit];
                continue;
            }
            const int target = child(node, char16_t(unit));
            row[unit] = target >= 0 ? target : failRow[unit] & NodeMask;
        }
    }
    // A step into a node where an entry ends says so in the same word.
    for (int &target : m_dense) {
        if (m_nodes.at(target).lowest != NoMatch)
            target |= EntryEnds;
    }
}

int KeywordMatcher::child(int node, char16_t unit) const
{
    const Node &n = m_nodes.at(node);
    const Edge *begin = m_edges.constData() + n.firstEdge;
    const Edge *end = begin + n.edgeCount;
    if (n.edgeCount <= 8) {
        for (const Edge *e = begin; e != end; ++e) {
            if (e->unit == unit)
                return e->target;
        }
        return -1;
    }
    const Edge *it = std::lower_bound(begin, end, unit, [](const Edge &e, char16_t u) { return e.unit < u; });
    return it != end && it->unit == unit ? it->target : -1;
}

int KeywordMatcher::next(int node, char16_t unit) const
{
    for (;;) {
        if (node == 0)
            return m_rootNext[unit];
        const int target = child(node, unit);
        if (target >= 0)
            return target;
        node = m_nodes[node].fail;
    }
}

int KeywordMatcher::firstMatch(QStringView text) const
{
    if (text.isEmpty())
        return NoMatch;
    int best = m_emptyEntry;
    if (m_nodes.size() <= 1)
        return best;
    const Node *nodes = m_nodes.constData();
    const int *dense = m_dense.isEmpty() ? nullptr : m_dense.constData();
    const auto step = [&](int node, char16_t unit) {
        return dense && unit < DenseUnits ? dense[qsizetype(node) * DenseUnits + unit] & NodeMask : next(node, unit);
    };
    const char16_t *data = text.utf16();
    // Each step waits for the one before; a long text is walked as several
    // runs side by side, whose steps do not wait for each other. A run starts
    // at the root the longest entry's length (less one) before its part, so
    // an entry that ends in a part lies whole in that part's run.
    const qsizetype part = text.size() / Runs;
    qsizetype begin[Runs];
    qsizetype length[Runs];
    for (int r = 0; r < Runs; ++r) {
        const qsizetype partBegin = part * r;
        const qsizetype partEnd = r == Runs - 1 ? text.size() : partBegin + part;
        begin[r] = part < RunMinimum ? 0 : qMax<qsizetype>(0, partBegin - (m_longest - 1));
        length[r] = part < RunMinimum ? (r == 0 ? text.size() : 0) : partEnd - begin[r];
    }
    const qsizetype together = *std::min_element(length, length + Runs);
    int node[Runs] = {};
    for (qsizetype i = 0; i < together; ++i) {
        char16_t unit[Runs];
        bool ascii = dense != nullptr;
        for (int r = 0; r < Runs; ++r) {
            unit[r] = data[begin[r] + i];
            ascii &= unit[r] < DenseUnits;
        }
        int ends = EntryEnds;
        if (ascii) [[likely]] {
            ends = 0;
            for (int r = 0; r < Runs; ++r) {
                const int target = dense[qsizetype(node[r]) * DenseUnits + unit[r]];
                node[r] = target & NodeMask;
                ends |= target;
            }
        } else {
            for (int r = 0; r < Runs; ++r)
                node[r] = step(node[r], unit[r]);
        }
        if (ends & EntryEnds) [[unlikely]] {
            for (int r = 0; r < Runs; ++r)
                best = std::min(best, nodes[node[r]].lowest);
            if (best == 0)
                return 0;
        }
    }
    for (int r = 0; r < Runs; ++r) {
        for (qsizetype i = together; i < length[r]; ++i) {
            node[r] = step(node[r], data[begin[r] + i]);
            if (nodes[node[r]].lowest < best) {
                best = nodes[node[r]].lowest;
                if (best == 0)
                    return 0;
            }
        }
    }
    return best;
}

} // namespace Scan
