#pragma once
// The grid that shows one list table: whole-row single selection, the
// table's caption line as header, and column widths kept in the table's
// proportions whatever the grid's size.

#include "config/listtable.h"

#include <QTableView>

class ListTable;

class ListGridView final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ListGridView)

public:
    // All grids share one width of this many units.
    static constexpr int WidthUnits = ListTable::WidthUnits;

    explicit ListGridView(QWidget *parent = nullptr);

    void setListTable(ListTable *table);
    ListTable *listTable() const { return m_table; }

    // The selected row, counted from 1; 0 when none is selected.
    int selectedRow() const;
    // Selects row `row` (from 1); 0 clears the selection.
    void selectListRow(int row);

    void applyColumnWidths();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    ListTable *m_table = nullptr;
};
