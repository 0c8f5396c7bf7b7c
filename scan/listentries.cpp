#include "scan/listentries.h"

#include "config/listtable.h"

#include <algorithm>

namespace Scan {

ListEntries::ListEntries(ListTable *table, QObject *parent)
    : QObject(parent)
    , m_table(table)
{
    if (!m_table)
        return;
    connect(m_table, &QAbstractItemModel::dataChanged, this, &ListEntries::changed);
    connect(m_table, &QAbstractItemModel::rowsInserted, this, &ListEntries::changed);
    connect(m_table, &QAbstractItemModel::rowsRemoved, this, &ListEntries::changed);
    connect(m_table, &QAbstractItemModel::rowsMoved, this, &ListEntries::changed);
    connect(m_table, &QAbstractItemModel::modelReset, this, &ListEntries::changed);
    connect(m_table, &QAbstractItemModel::layoutChanged, this, &ListEntries::changed);
    connect(m_table, &QObject::destroyed, this, [this] {
        m_table = nullptr;
        changed();
    });
}

void ListEntries::changed() { ++m_generation; }

const QStringList &ListEntries::upper()
{
    if (m_readAt == m_generation)
        return m_upper;
    m_upper.clear();
    m_entries.clear();
    if (m_table) {
        const int rows = qMax(0, m_table->rows());
        m_upper.reserve(rows);
        m_entries.reserve(rows);
        for (int k = 1; k <= rows; ++k) {
            // A blank entry would be found in every text: it takes part in no comparison.
            const QString entry = m_table->cell(k, 1);
            if (!std::all_of(entry.cbegin(), entry.cend(), [](QChar c) { return c.isSpace(); })) {
                m_upper.append(entry.toUpper());
                m_entries.append(entry);
            }
        }
    }
    m_readAt = m_generation;
    return m_upper;
}

const KeywordMatcher &ListEntries::matcher()
{
    const QStringList &entries = upper();
    if (m_matcherAt != m_readAt) {
        m_matcher.build(entries);
        m_matcherAt = m_readAt;
    }
    return m_matcher;
}

QString ListEntries::entry(int index)
{
    upper();
    return m_entries.value(index);
}

} // namespace Scan
