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

    // The trie, with unsorted child lists while it grows.
    std::vector<std::vector<Edge>> children(1);
    std::vector<int> own(1, NoMatch);
    for (int index = 0; index < m_entryCount; ++index) {
        const QString &entry = entries.at(index);
        if (entry.isEmpty()) {
            m_emptyEntry = std::min(m_emptyEntry, index);
            continue;
        }
        int node = 0;
        for (QChar c : entry) {
            const char16_t unit = c.unicode();
            auto &list = children[size_t(node)];
            auto it = std::find_if(list.begin(), list.end(), [unit](const Edge &e) { return e.unit == unit; });
            if (it != list.end()) {
                node = it->target;
                continue;
            }
            const int created = int(children.size());
            list.push_back({unit, created});
            children.emplace_back();
            own.push_back(NoMatch);
            node = created;
        }
        own[size_t(node)] = std::min(own[size_t(node)], index);
    }

    // Breadth first: a node's fail target is shallower, so it is done first.
    m_nodes.resize(qsizetype(children.size()));
    m_rootNext.fill(0, 0x10000);
    std::vector<int> order;
    order.reserve(children.size());
    order.push_back(0);
    m_nodes[0].lowest = NoMatch;
    for (size_t i = 0; i < order.size(); ++i) {
        const int node = order[i];
        auto &list = children[size_t(node)];
        std::sort(list.begin(), list.end(), [](const Edge &a, const Edge &b) { return a.unit < b.unit; });
        m_nodes[node].firstEdge = int(m_edges.size());
        m_nodes[node].edgeCount = int(list.size());
        for (const Edge &edge : list) {
            m_edges.append(edge);
            order.push_back(edge.target);
            int fail = 0;
            if (node != 0) {
                int f = m_nodes[node].fail;
                for (;;) {
                    const int next = f == 0 ? m_rootNext[edge.unit] : child(f, edge.unit);
                    if (next > 0) {
                        fail = next;
                        break;
                    }
                    if (f == 0)
                        break;
                    f = m_nodes[f].fail;
                }
            }
            m_nodes[edge.target].fail = fail;
            m_nodes[edge.target].lowest = std::min(own[size_t(edge.target)], m_nodes[fail].lowest);
        }
        if (node == 0) {
            for (const Edge &edge : list)
                m_rootNext[edge.unit] = edge.target;
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
            row[unit] = target >= 0 ? target : failRow[unit];
        }
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
    int node = 0;
    for (QChar c : text) {
        const char16_t unit = c.unicode();
        if (dense && unit < DenseUnits)
            node = dense[qsizetype(node) * DenseUnits + unit];
        else
            node = next(node, unit);
        if (nodes[node].lowest < best) {
            best = nodes[node].lowest;
            if (best == 0)
                return 0;
        }
    }
    return best;
}

} // namespace Scan
