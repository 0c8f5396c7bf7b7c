#pragma once
// The first column of one list, upper-cased as the rules compare it, without
// entries that are empty or only white space (the table keeps them), kept
// for a whole scan and read again only when the list changes (the scan
// yields to the event loop, so the user may edit a list meanwhile).

#include "scan/keywordmatcher.h"

#include <QObject>
#include <QStringList>

class ListTable;

namespace Scan {

class ListEntries final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListEntries)

public:
    explicit ListEntries(ListTable *table, QObject *parent = nullptr);

    const QStringList &upper();
    // Built from upper() once per change of the list: one pass over a text
    // finds the first entry in list order that it contains.
    const KeywordMatcher &matcher();
    // Entry `index` of upper() as the user wrote it.
    QString entry(int index);
    // Raised on every change of the list; entries read at one generation stay
    // valid until it moves on.
    quint64 generation() const { return m_generation; }

private:
    void changed();

    ListTable *m_table;
    QStringList m_upper;
    QStringList m_entries;
    KeywordMatcher m_matcher;
    quint64 m_generation = 1;
    quint64 m_readAt = 0;
    quint64 m_matcherAt = 0;
};

} // namespace Scan
