#include "ui/spamreviewfilter.h"

#include "state/reviewlist.h"
#include "ui/spamreviewtab.h"

using namespace Qt::StringLiterals;

SpamReviewFilter::SpamReviewFilter(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    setSortRole(SortKeyRole);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setNumericMode(true);
}

QStringList SpamReviewFilter::showTexts()
{
    return {u"All messages"_s, u"Held"_s, u"Held by the learned filter"_s, u"Unsure"_s, u"To be deleted"_s,
            u"Deleted"_s,      u"Kept"_s};
}

void SpamReviewFilter::setShow(Show show)
{
    if (show == m_show)
        return;
    m_show = show;
    invalidateRowsFilter();
}

void SpamReviewFilter::setSearchText(const QString &text)
{
    const QStringList words = text.split(u' ', Qt::SkipEmptyParts);
    if (words == m_words)
        return;
    m_words = words;
    invalidateRowsFilter();
}

bool SpamReviewFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    const QAbstractItemModel *model = sourceModel();
    const QModelIndex first = model->index(sourceRow, 0, sourceParent);
    const auto state = ReviewList::State(first.data(StateRole).toInt());
    bool shown = true;
    switch (m_show) {
    case Show::All: break;
    case Show::Held: shown = state == ReviewList::State::Held; break;
    case Show::HeldByLearnedFilter: shown = state == ReviewList::State::Held && first.data(GuessRole).toBool(); break;
    case Show::Unsure: shown = state == ReviewList::State::Unsure; break;
    case Show::ToBeDeleted: shown = state == ReviewList::State::DeleteRequested; break;
    case Show::Deleted: shown = state == ReviewList::State::Deleted || state == ReviewList::State::Gone; break;
    case Show::Kept: shown = state == ReviewList::State::Kept; break;
    }
    if (!shown)
        return false;
    for (const QString &word : m_words) {
        bool found = false;
        for (const int column : {SpamReviewTab::Sender, SpamReviewTab::Subject, SpamReviewTab::Account}) {
            if (model->index(sourceRow, column, sourceParent).data().toString().contains(word, Qt::CaseInsensitive)) {
                found = true;
                break;
            }
        }
        if (!found)
            return false;
    }
    return true;
}

bool SpamReviewFilter::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const QVariant a = left.data(SortKeyRole);
    const QVariant b = right.data(SortKeyRole);
    int order = 0;
    if (a.typeId() == QMetaType::QString && b.typeId() == QMetaType::QString) {
        // Texts in the user's language order, whatever their letter case (the
        // proxy's locale-aware order would be case sensitive in some locales).
        order = m_collator.compare(a.toString(), b.toString());
    } else if (QSortFilterProxyModel::lessThan(left, right)) {
        order = -1;
    } else if (QSortFilterProxyModel::lessThan(right, left)) {
        order = 1;
    }
    if (order != 0)
        return order < 0;
    // Equal keys: newest first either way, so the order never depends on what was sorted before.
    const qint64 leftId = left.siblingAtColumn(0).data(SpamReviewTab::IdRole).toLongLong();
    const qint64 rightId = right.siblingAtColumn(0).data(SpamReviewTab::IdRole).toLongLong();
    return sortOrder() == Qt::AscendingOrder ? leftId > rightId : leftId < rightId;
}
