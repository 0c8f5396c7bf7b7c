#pragma once
// What the Spam tab shows of its list: the rows matching the search words
// (in sender, subject or account) and the chosen state, sorted by any
// column through each cell's sort key.

#include <QCollator>
#include <QSortFilterProxyModel>
#include <QStringList>

class SpamReviewFilter final : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SpamReviewFilter)

public:
    // The states a user looks for; "held by the learned filter" is what only
    // the learned filter condemned and is held, "unsure" what it left on the
    // server undecided, "deleted" includes what was gone before it could be.
    enum class Show { All, Held, HeldByLearnedFilter, Unsure, ToBeDeleted, Deleted, Kept };
    // On the first cell of a row: the ReviewList::State, and whether the verdict was a guess.
    static constexpr int StateRole = Qt::UserRole + 2;
    static constexpr int GuessRole = Qt::UserRole + 3;
    // On every cell: what it sorts by (a number for times, sizes and states).
    static constexpr int SortKeyRole = Qt::UserRole + 4;

    explicit SpamReviewFilter(QObject *parent = nullptr);

    static QStringList showTexts();
    void setShow(Show show);
    // Every word must occur in the sender, the subject or the account, in any letter case.
    void setSearchText(const QString &text);
    bool isFiltering() const { return m_show != Show::All || !m_words.isEmpty(); }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    QCollator m_collator;
    Show m_show = Show::All;
    QStringList m_words;
};
