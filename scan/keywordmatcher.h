#pragma once
// Finds which of many entries occur in a text in one pass over the text
// (Aho-Corasick over UTF-16 code units), so a scan with thousands of
// keywords costs about what a scan with one does. A list of ordinary size
// also gets a full transition table for ASCII, the bulk of any mail: one
// lookup per character, no walking of fail links.

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <limits>
#include <vector>

namespace Scan {

class KeywordMatcher final
{
public:
    static constexpr int NoMatch = std::numeric_limits<int>::max();

    KeywordMatcher() = default;
    explicit KeywordMatcher(const QStringList &entries) { build(entries); }

    // Entries are compared as given (the scan passes them upper-cased).
    void build(const QStringList &entries);
    int size() const { return m_entryCount; }

    // The lowest index of an entry the text contains, or NoMatch. Agrees with
    // containsEntry(): an empty entry is contained in every non-empty text,
    // an empty text contains nothing.
    int firstMatch(QStringView text) const;

private:
    struct Edge
    {
        char16_t unit;
        int target;
    };
    struct Node
    {
        int firstEdge = 0; // edges of a node are contiguous and sorted by unit
        int edgeCount = 0;
        int fail = 0;
        int lowest = NoMatch; // lowest entry ending here or at any suffix node
    };

    // Lists up to this many trie nodes get the table (at most 1 MB).
    static constexpr int DenseNodeLimit = 2048;
    static constexpr int DenseUnits = 128;
    // A table cell is the next node, with this bit set where an entry ends there.
    static constexpr int EntryEnds = std::numeric_limits<int>::min();
    static constexpr int NodeMask = std::numeric_limits<int>::max();

    // Texts whose parts are at least this long are walked in runs.
    static constexpr int Runs = 4;
    static constexpr qsizetype RunMinimum = 1024;

    int child(int node, char16_t unit) const;
    int next(int node, char16_t unit) const;
    void buildDense(const std::vector<int> &order);

    QList<Node> m_nodes;
    QList<Edge> m_edges;
    QList<int> m_rootNext; // the root's transitions, one slot per code unit
    QList<int> m_dense;    // node * DenseUnits + unit -> next node; empty for large lists
    int m_emptyEntry = NoMatch;
    qsizetype m_longest = 0; // code units of the longest entry
    int m_entryCount = 0;
};

} // namespace Scan
