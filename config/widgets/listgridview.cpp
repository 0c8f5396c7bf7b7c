#include "config/widgets/listgridview.h"

#include "config/listtable.h"

#include <QHeaderView>
#include <QItemSelectionModel>

ListGridView::ListGridView(QWidget *parent)
    : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(true);
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setStretchLastSection(true);
}

void ListGridView::setListTable(ListTable *table)
{
    m_table = table;
    setModel(table);
    if (table) {
        connect(table, &QAbstractItemModel::headerDataChanged, this, &ListGridView::applyColumnWidths);
        connect(table, &QAbstractItemModel::modelReset, this, &ListGridView::applyColumnWidths);
    }
    applyColumnWidths();
}

int ListGridView::selectedRow() const
{
    if (!selectionModel() || !m_table)
        return 0;
    const QModelIndexList rows = selectionModel()->selectedRows();
    if (rows.isEmpty())
        return 0;
    const int row = rows.first().row() + 1;
    return row <= m_table->rowCountValue() ? row : 0;
}

void ListGridView::selectListRow(int row)
{
    if (!selectionModel())
        return;
    if (row < 1 || !m_table || row > m_table->rowCountValue()) {
        clearSelection();
        return;
    }
    selectRow(row - 1);
}

void ListGridView::applyColumnWidths()
{
    if (!m_table)
        return;
    const QList<int> widths = m_table->columnWidths();
    const int available = viewport()->width();
    const int columns = m_table->columns();
    // The last column stretches; the others keep their share of the width.
    for (int column = 0; column < columns - 1 && column < widths.size(); ++column)
        setColumnWidth(column, widths.at(column) * available / WidthUnits);
}

void ListGridView::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    applyColumnWidths();
}
